// What the daemon and arctl know of the configuration file itself, beside
// what the configuration database reads from it: whether it is the file a
// load read (its modification time and a checksum), and why a load could
// not open it.
#pragma once

#include <cstdint>
#include <string>

struct ConfigFileFacts {
  bool readable = false;
  int64_t mtime = 0;     // seconds since the epoch
  std::string checksum;  // platform/file_checksum.h of the bytes; "" when unreadable
};

// Reads the file at path whole.
ConfigFileFacts config_file_facts(const std::string& path);

// Why the configuration database may not have opened the file at path, for
// people: "PATH: what the parser found at line L, column C", "PATH: the
// system's reason" when it cannot be read or is no regular file, or "PATH:
// could not be opened" when neither shows.
std::string config_file_problem(const std::string& path);
