// Percent escapes for texts carried inside the daemon's own published
// records, whose fields are separated by a few plain characters: infod ends
// a value at CR or LF, so those, the other control bytes and the record's
// separators travel as %XX.
#pragma once

#include <string>
#include <string_view>

// Appends text to out with '%', every byte up to ' ', DEL and each byte of
// separators written as %XX (upper-case hexadecimal).
void percent_escape(std::string* out, std::string_view text, std::string_view separators);

// The text back; false when a '%' is not followed by two hexadecimal digits.
bool percent_unescape(std::string_view text, std::string* out);
