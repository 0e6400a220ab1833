// The checksum that tells one version of the configuration file from
// another: the configuration database takes it of the bytes it parses, and
// the daemon and arctl compare it with the file as it is now.
#pragma once

#include <string>
#include <string_view>

// A 64-bit hash of bytes, as 16 hexadecimal digits. Not a cryptographic
// hash: it tells versions of one file apart, it proves nothing.
std::string file_checksum(std::string_view bytes);
