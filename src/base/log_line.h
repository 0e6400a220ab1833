// Engine log lines for infod: formatted into 128 bytes and cut at 127, at a
// UTF-8 character boundary so the line stays valid text.
#pragma once

#include <cstddef>

constexpr size_t kLogLineSize = 128;

struct LogLine {
  char text[kLogLineSize];
};

// Formats one line, cut at the last whole character within 127 bytes.
LogLine format_log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
