// The configuration file's checksum.
#include "platform/file_checksum.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

std::string file_checksum(std::string_view bytes) {
  // Eight bytes a step (the file is hashed at every load, and may run to
  // megabytes); the length goes in first, so a cut file differs too.
  uint64_t hash = 0xcbf29ce484222325ULL ^ static_cast<uint64_t>(bytes.size());
  for (size_t at = 0; at < bytes.size(); at += 8) {
    uint64_t word = 0;
    memcpy(&word, bytes.data() + at, std::min<size_t>(8, bytes.size() - at));
    hash = (hash ^ word) * 0xff51afd7ed558ccdULL;
    hash ^= hash >> 32;
  }
  char digits[17];
  snprintf(digits, sizeof digits, "%016" PRIx64, hash);
  return digits;
}
