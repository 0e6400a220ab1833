// Small text helpers of the appliance library.
#pragma once

// Replaces every occurrence of token in text with value. Takes over text
// (a malloc'd string, freed here whatever happens) and returns a new
// malloc'd string, or null on failure (null text, empty token, no memory).
// A null token or value fails too; when nothing is replaced the result is
// text itself. The replaced text is not searched again.
char* strrepl(char* text, const char* token, const char* value);

// Splits a list text at commas and white space, dropping empty elements.
// On success stores a malloc'd array of *count malloc'd strings (each one
// released with free, then the array) and returns 0; an empty list gives
// a null array and a count of 0. Returns -1 (nothing stored) for a null
// text or when memory runs out.
int construct_array(const char* text, char*** elements, int* count);

// Releases what construct_array stored.
void free_array(char** elements, int count);
