// The floor of the reload benchmarks: expat alone reading and parsing a
// file in the chunks the configuration database reads it in, with no
// handlers: only what any reader of the file must do.
#pragma once

#include <expat.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace bench {

inline bool expat_alone(const std::string& path) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = parser != nullptr && fd >= 0;
  while (ok) {
    void* buf = XML_GetBuffer(parser, 64 * 1024);
    const ssize_t n = buf != nullptr ? read(fd, buf, 64 * 1024) : -1;
    ok = n >= 0 && XML_ParseBuffer(parser, static_cast<int>(n), n == 0) == XML_STATUS_OK;
    if (n == 0) break;
  }
  if (fd >= 0) close(fd);
  if (parser != nullptr) XML_ParserFree(parser);
  return ok;
}

}  // namespace bench
