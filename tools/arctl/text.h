// Text for people: values shown with their control characters made
// visible, and aligned tables; and text for programs as JSON strings.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// text with every byte that a terminal would act on, or that is no UTF-8,
// written as an escape: \t, \n and \r, and \xHH for the rest (the field
// separator RS is \x1e).
std::string visible(std::string_view text);

// text as a JSON string, quotes included, valid whatever the bytes: a quote,
// a backslash and every control character (DEL too) escaped; valid UTF-8
// kept as it is; a byte that is no UTF-8 written as \u00HH of that byte, so
// that \u0080 to \u00ff only ever stand for such bytes.
std::string json_string(std::string_view text);

// The columns text takes on a terminal: one per character of valid UTF-8.
size_t display_width(std::string_view text);

// Rows as columns two spaces apart, each as wide as its widest cell (cells
// already made visible); the last column is not padded.
void print_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows);
