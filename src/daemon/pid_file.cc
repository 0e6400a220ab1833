// Writing and removing the daemon's pid file.
#include "daemon/pid_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"

bool pid_file_write(const std::string& path, pid_t pid) {
  // Beside the file, so the rename stays in one directory and file system.
  std::vector<char> temporary(path.begin(), path.end());
  for (const char c : std::string(".XXXXXX")) temporary.push_back(c);
  temporary.push_back('\0');
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    ar_log(kLogError, "Could not write pid file %s: %s", path.c_str(), strerror(errno));
    return false;
  }
  const std::string text = std::to_string(pid) + "\n";
  bool ok = fchmod(fd, 0644) == 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.data(), path.c_str()) == 0) return true;
  ar_log(kLogError, "Could not write pid file %s: %s", path.c_str(), strerror(ok ? errno : error));
  unlink(temporary.data());
  return false;
}

void pid_file_remove(const std::string& path, pid_t pid) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return;
  long held = 0;
  const bool read = fscanf(f, "%ld", &held) == 1;
  fclose(f);
  if (read && held == static_cast<long>(pid)) unlink(path.c_str());
}
