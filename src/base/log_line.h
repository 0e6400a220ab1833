// Engine log lines for infod: formatted, escaped as the log is (base/log.h
// log_escape) and cut at 127 bytes, at a UTF-8 character boundary and never
// inside an escape, so the line stays valid text.
#pragma once

#include <cstddef>

constexpr size_t kLogLineSize = 128;

struct LogLine {
  char text[kLogLineSize];
};

// Formats one line, escaped, cut at the last whole character or escape
// within 127 bytes.
LogLine format_log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
