// The leading decimal integer of a text, clamped to 32 bits: how a size in
// the configuration, the number of an infod message and a check's reading
// are all read.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>

// What strtoll reads in base 10 (blanks, an optional sign, digits), clamped
// to [INT32_MIN, INT32_MAX]; 0 for null, empty or non-numeric text. errno is
// left as it was. A header of its own, and inline, so that the tools that
// speak to infod take it without the rest of the platform library.
inline int32_t leading_int(const char* text) {
  if (text == nullptr) return 0;
  const int saved_errno = errno;
  const long long n = std::strtoll(text, nullptr, 10);
  errno = saved_errno;
  if (n > INT32_MAX) return INT32_MAX;
  if (n < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(n);
}
