// Writing, locking and removing the daemon's pid file.
#include "daemon/pid_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/log.h"

namespace {

// The whole file, from its first byte to any length.
struct flock whole_file(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  return lock;
}

}  // namespace

int pid_file_lock(const std::string& path, pid_t pid) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    ar_log(kLogError, "Could not write pid file %s: %s", path.c_str(), strerror(errno));
    return -1;
  }
  struct flock lock = whole_file(F_WRLCK);
  if (fcntl(fd, F_SETLK, &lock) != 0) {
    const int error = errno;
    const pid_t holder = error == EAGAIN || error == EACCES ? pid_file_holder(fd) : 0;
    if (holder > 0) {
      ar_log(kLogError, "Could not write pid file %s: process %ld holds its lock", path.c_str(),
             static_cast<long>(holder));
    } else {
      ar_log(kLogError, "Could not write pid file %s: %s", path.c_str(), strerror(error));
    }
    close(fd);
    return -1;
  }
  // Locked: no other daemon writes it now. Readers find the pid once the
  // daemon publishes it in infod, which comes after this.
  const std::string text = std::to_string(pid) + "\n";
  struct stat st {};
  std::string why;
  if (fstat(fd, &st) != 0) {
    why = strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else if (fchmod(fd, 0644) != 0 || ftruncate(fd, 0) != 0) {
    why = strerror(errno);
  } else if (const ssize_t n = pwrite(fd, text.data(), text.size(), 0); n != static_cast<ssize_t>(text.size())) {
    why = n < 0 ? strerror(errno) : "short write";
  } else {
    return fd;
  }
  ar_log(kLogError, "Could not write pid file %s: %s", path.c_str(), why.c_str());
  close(fd);
  return -1;
}

void pid_file_release(const std::string& path, int fd) {
  if (fd < 0) return;
  // The path is looked at, never opened: a descriptor of the file closed
  // here would drop the lock while the file is still named.
  struct stat held {}, named {};
  if (fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
      held.st_ino == named.st_ino) {
    unlink(path.c_str());
  }
  close(fd);
}

pid_t pid_file_holder(int fd) {
  // A read lock conflicts only with a write lock: a read lock that anyone
  // who can read the file may take is not reported.
  struct flock lock = whole_file(F_RDLCK);
  if (fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) return 0;
  return lock.l_pid > 0 ? lock.l_pid : 0;
}
