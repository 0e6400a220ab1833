// Facts of the configuration file: its fingerprint, and the reason a load
// failed.
#include "config/config_file.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

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
  // Eight bytes a step (the file is hashed at every load, and may run to
  // megabytes); the length goes in first, so a cut file differs too.
  uint64_t hash = 0xcbf29ce484222325ULL ^ static_cast<uint64_t>(text.size());
  for (size_t at = 0; at < text.size(); at += 8) {
    uint64_t word = 0;
    memcpy(&word, text.data() + at, std::min<size_t>(8, text.size() - at));
    hash = (hash ^ word) * 0xff51afd7ed558ccdULL;
    hash ^= hash >> 32;
  }
  char digits[17];
  snprintf(digits, sizeof digits, "%016" PRIx64, hash);
  facts.readable = true;
  facts.mtime = static_cast<int64_t>(st.st_mtime);
  facts.checksum = digits;
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
                std::to_string(XML_GetCurrentLineNumber(parser)) + ", column " +
                std::to_string(XML_GetCurrentColumnNumber(parser) + 1);
      break;
    }
    if (last) break;
  }
  XML_ParserFree(parser);
  return problem;
}
