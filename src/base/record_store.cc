// A directory of records, written whole.
#include "base/record_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "base/log.h"

namespace {

constexpr char kTemporaryPrefix[] = ".new.";

bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The whole of a regular file of size bytes; false when it cannot be read.
bool read_whole(int fd, size_t size, std::string* out) {
  out->resize(size);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, out->data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  char more;
  return ::read(fd, &more, 1) == 0;  // a file that grew meanwhile is not whole
}

// A name the daemon writes: no path, no temporary, nothing to escape.
bool plain_name(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos && name.size() < 200;
}

}  // namespace

RecordDir::~RecordDir() {
  if (fd_ >= 0) close(fd_);
}

bool RecordDir::open(const std::string& path) {
  path_ = path;
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    ar_log(kLogError, "Could not make %s: %s: nothing is kept for a restart", path.c_str(), strerror(errno));
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st{};
  if (fd < 0 || fstat(fd, &st) != 0) {
    ar_log(kLogError, "Could not open %s: %s: nothing is kept for a restart", path.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return false;
  }
  if (st.st_uid != geteuid()) {
    ar_log(kLogError, "%s belongs to user %u, not to the daemon: nothing is kept for a restart", path.c_str(),
           static_cast<unsigned>(st.st_uid));
    close(fd);
    return false;
  }
  fd_ = fd;
  if ((st.st_mode & 077) != 0) {
    // Others may have put records there: none is taken up.
    ar_log(kLogError, "%s was open to others (mode %03o): what it held is not taken up", path.c_str(),
           static_cast<unsigned>(st.st_mode & 0777));
    if (fchmod(fd, 0700) != 0) {
      ar_log(kLogError, "Could not make %s private: %s: nothing is kept for a restart", path.c_str(), strerror(errno));
      close(fd);
      fd_ = -1;
      return false;
    }
    for (const auto& [name, text] : read_all()) remove(name);
  }
  return true;
}

bool RecordDir::write(const std::string& name, std::string_view text) {
  if (fd_ < 0 || !plain_name(name)) return false;
  if (text.size() > kMaxRecordSize) {
    ar_log(kLogError, "Record %s too large to keep (%zu bytes)", name.c_str(), text.size());
    return false;
  }
  const std::string temporary = kTemporaryPrefix + name;
  const int fd = openat(fd_, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    ar_log(kLogError, "Could not write %s/%s: %s", path_.c_str(), temporary.c_str(), strerror(errno));
    return false;
  }
  bool ok = write_all(fd, text);
  const int error = errno;
  ok = close(fd) == 0 && ok;
  if (ok && renameat(fd_, temporary.c_str(), fd_, name.c_str()) == 0) return true;
  ar_log(kLogError, "Could not write %s/%s: %s", path_.c_str(), name.c_str(), strerror(ok ? errno : error));
  unlinkat(fd_, temporary.c_str(), 0);
  return false;
}

void RecordDir::remove(const std::string& name) {
  if (fd_ < 0 || !plain_name(name)) return;
  if (unlinkat(fd_, name.c_str(), 0) != 0 && errno != ENOENT) {
    ar_log(kLogError, "Could not remove %s/%s: %s", path_.c_str(), name.c_str(), strerror(errno));
  }
}

std::map<std::string, std::string> RecordDir::read_all() {
  std::map<std::string, std::string> records;
  if (fd_ < 0) return records;
  const int listing = dup(fd_);
  DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
  if (dir == nullptr) {
    if (listing >= 0) close(listing);
    ar_log(kLogError, "Could not read %s: %s", path_.c_str(), strerror(errno));
    return records;
  }
  rewinddir(dir);  // the duplicate shares its offset with the descriptor kept open
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    if (name.rfind(kTemporaryPrefix, 0) == 0) {
      unlinkat(fd_, name.c_str(), 0);  // a write the last process did not finish
      continue;
    }
    const int fd = openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st{};
    std::string why;
    std::string text;
    if (fd < 0 || fstat(fd, &st) != 0) {
      why = strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
      why = "not a file";
    } else if (st.st_uid != geteuid()) {
      why = "not the daemon's own";
    } else if (static_cast<unsigned long long>(st.st_size) > kMaxRecordSize) {
      why = "larger than " + std::to_string(kMaxRecordSize) + " bytes";
    } else if (!read_whole(fd, static_cast<size_t>(st.st_size), &text)) {
      why = "could not be read";
    }
    if (fd >= 0) close(fd);
    if (why.empty() && plain_name(name)) {
      records.emplace(name, std::move(text));
      continue;
    }
    ar_log(kLogError, "Refused %s/%s: %s", path_.c_str(), name.c_str(), why.empty() ? "no record's name" : why.c_str());
    if (unlinkat(fd_, name.c_str(), 0) != 0 && errno == EISDIR) unlinkat(fd_, name.c_str(), AT_REMOVEDIR);
  }
  return records;
}
