// Cutting engine log lines.
#include "base/log_line.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>

#include "base/log.h"

LogLine format_log_line(const char* format, ...) {
  // A few bytes past the cut show whether it falls inside a character.
  // Escapes only lengthen the text, so the line comes from no more of it.
  char wide[kLogLineSize + 4];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(wide, sizeof wide, format, args);
  va_end(args);
  const size_t formatted = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof wide - 1);
  // The escaped text up to a byte past the cut, and where an escape that
  // the cut would split begins.
  constexpr size_t kCut = kLogLineSize - 1;
  char escaped[kLogLineSize + kLogEscapeSize];
  size_t length = 0, split_escape = kCut;
  for (size_t i = 0; i < formatted && length <= kCut; ++i) {
    const auto c = static_cast<unsigned char>(wide[i]);
    if (!log_escaped(c)) {
      escaped[length++] = wide[i];
      continue;
    }
    std::string escape;
    log_escape(&escape, std::string_view(wide + i, 1));
    if (length < kCut && length + escape.size() > kCut) split_escape = length;
    for (const char e : escape) escaped[length++] = e;
  }
  if (length > kCut) {
    length = kCut;
    if (split_escape < kCut) {
      length = split_escape;
    } else {
      // Step back over continuation bytes to the lead byte of the character
      // the cut would split, and cut before it. A character has at most
      // three of them; more is not UTF-8, and the cut stays where it is.
      size_t back = 0;
      const auto continues = [&escaped](size_t i) { return (static_cast<unsigned char>(escaped[i]) & 0xC0) == 0x80; };
      while (back < 4 && back < length && continues(length - back)) ++back;
      if (back < 4) length -= back;
    }
  }
  LogLine line;
  for (size_t i = 0; i < length; ++i) line.text[i] = escaped[i];
  line.text[length] = '\0';
  return line;
}
