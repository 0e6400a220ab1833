// The configuration file's checksum.
#include "platform/file_checksum.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

void mix(uint64_t* hash, uint64_t word) {
  *hash = (*hash ^ word) * 0xff51afd7ed558ccdULL;
  *hash ^= *hash >> 32;
}

}  // namespace

// Eight bytes a step (the file is hashed at every load, and may run to
// megabytes); the length goes in first, so a cut file differs too. The
// last word is filled up with zero bytes.
FileChecksum::FileChecksum(uint64_t length) : hash_(0xcbf29ce484222325ULL ^ length) {}

void FileChecksum::add(std::string_view bytes) {
  added_ += bytes.size();
  if (rest_size_ > 0 && !bytes.empty()) {
    const size_t n = std::min(bytes.size(), sizeof rest_ - rest_size_);
    memcpy(rest_ + rest_size_, bytes.data(), n);
    rest_size_ += n;
    bytes.remove_prefix(n);
    if (rest_size_ < sizeof rest_) return;
    uint64_t word;
    memcpy(&word, rest_, sizeof word);
    mix(&hash_, word);
    rest_size_ = 0;
  }
  for (; bytes.size() >= 8; bytes.remove_prefix(8)) {
    uint64_t word;
    memcpy(&word, bytes.data(), sizeof word);
    mix(&hash_, word);
  }
  if (!bytes.empty()) memcpy(rest_, bytes.data(), bytes.size());
  rest_size_ = bytes.size();
}

std::string FileChecksum::digits() const {
  uint64_t hash = hash_;
  if (rest_size_ > 0) {
    uint64_t word = 0;
    memcpy(&word, rest_, rest_size_);
    mix(&hash, word);
  }
  char digits[17];
  snprintf(digits, sizeof digits, "%016" PRIx64, hash);
  return digits;
}

std::string file_checksum(std::string_view bytes) {
  FileChecksum sum(bytes.size());
  sum.add(bytes);
  return sum.digits();
}
