// Facts of the configuration file: its fingerprint, and the reason a load
// failed.
#include "config/config_file.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/expat_position.h"
#include "platform/file_checksum.h"

namespace {

// The file's bytes; false with errno when it cannot be read.
bool read_whole(const std::string& path, std::string* text, struct stat* st) {
  // Not blocking on a FIFO put in the file's place.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  bool ok = fstat(fd, st) == 0;
  if (ok && !S_ISREG(st->st_mode)) {
    errno = EINVAL;
    ok = false;
  }
  char buffer[64 * 1024];
  for (ssize_t n; ok && (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  const int error = errno;
  close(fd);
  errno = error;
  return ok;
}

}  // namespace

ConfigFileFacts config_file_facts(const std::string& path) {
  ConfigFileFacts facts;
  std::string text;
  struct stat st {};
  if (!read_whole(path, &text, &st)) return facts;
  facts.readable = true;
  facts.mtime = static_cast<int64_t>(st.st_mtime);
  facts.checksum = file_checksum(text);
  return facts;
}

std::string config_file_problem(const std::string& path) {
  std::string text;
  struct stat st {};
  if (!read_whole(path, &text, &st)) {
    return path + ": " + (errno == EINVAL ? "not a regular file" : strerror(errno));
  }
  XML_Parser parser = XML_ParserCreate(nullptr);
  std::string problem = path + ": could not be opened";
  if (parser == nullptr) return problem;
  // In pieces: expat counts a piece's length in an int.
  constexpr size_t kPiece = 1 << 20;
  for (size_t at = 0;; at += kPiece) {
    const size_t n = std::min(kPiece, text.size() - at);
    const bool last = at + n == text.size();
    if (XML_Parse(parser, text.data() + at, static_cast<int>(n), last ? XML_TRUE : XML_FALSE) == XML_STATUS_ERROR) {
      problem = path + ": " + XML_ErrorString(XML_GetErrorCode(parser)) + " at line " +
                std::to_string(xml_line(parser)) + ", column " + std::to_string(xml_column(parser));
      break;
    }
    if (last) break;
  }
  XML_ParserFree(parser);
  return problem;
}
