// Text for people: values shown with their control characters made
// visible, and aligned tables.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// text with every byte that a terminal would act on, or that is no UTF-8,
// written as an escape: \t, \n and \r, and \xHH for the rest (the field
// separator RS is \x1e).
std::string visible(std::string_view text);

// The columns text takes on a terminal: one per character of valid UTF-8.
size_t display_width(std::string_view text);

// Rows as columns two spaces apart, each as wide as its widest cell (cells
// already made visible); the last column is not padded.
void print_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows);
