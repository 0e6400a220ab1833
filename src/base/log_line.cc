// Cutting engine log lines.
#include "base/log_line.h"

#include <cstdarg>
#include <cstdio>

LogLine format_log_line(const char* format, ...) {
  // A few bytes past the cut show whether it falls inside a character.
  char wide[kLogLineSize + 4];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(wide, sizeof wide, format, args);
  va_end(args);
  LogLine line;
  size_t length = n < 0 ? 0 : static_cast<size_t>(n);
  if (length > kLogLineSize - 1) {
    length = kLogLineSize - 1;
    // Step back over continuation bytes to the lead byte of the character
    // the cut would split, and cut before it. A character has at most three
    // of them; more is not UTF-8, and the cut stays where it is.
    size_t back = 0;
    while (back < 4 && back < length && (static_cast<unsigned char>(wide[length - back]) & 0xC0) == 0x80) ++back;
    if (back < 4) length -= back;
  }
  for (size_t i = 0; i < length; ++i) line.text[i] = wide[i];
  line.text[length] = '\0';
  return line;
}
