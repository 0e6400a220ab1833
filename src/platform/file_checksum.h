// The checksum that tells one version of the configuration file from
// another: the configuration database takes it of the bytes it parses, and
// the daemon and arctl compare it with the file as it is now.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A 64-bit hash of bytes, as 16 hexadecimal digits. Not a cryptographic
// hash: it tells versions of one file apart, it proves nothing.
std::string file_checksum(std::string_view bytes);

// The same checksum taken of bytes as they arrive in pieces, so that a file
// need not be held whole to be hashed. The length goes in first, so it is
// told at the start; digits() is file_checksum's only when the pieces
// added up to it.
class FileChecksum {
 public:
  explicit FileChecksum(uint64_t length);
  void add(std::string_view bytes);
  uint64_t added() const { return added_; }
  std::string digits() const;

 private:
  uint64_t hash_;
  uint64_t added_ = 0;
  char rest_[8] = {};  // the bytes of a word not yet whole
  size_t rest_size_ = 0;
};
