// Which configuration file arctl reads, and opening it.
#include "arctl/config_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "arctl/text.h"

Paths daemon_paths() {
  const char* root = getenv("AR_ROOT");
  return root != nullptr && root[0] != '\0' ? Paths::under(root) : Paths::fixed();
}

std::string default_config_file() {
  const char* path = getenv("XMLDB_PATH");
  return path != nullptr && path[0] != '\0' ? path : daemon_paths().config_file;
}

int open_config_file(const std::string& file, std::ostream& err) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer. Whatever is not
  // a regular file is refused before anything is read from it: a FIFO or a
  // terminal would hold the read for ever, a device would feed it anything.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    err << "arctl: cannot read " << visible(file) << ": " << strerror(errno) << "\n";
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    err << "arctl: cannot read " << visible(file) << ": " << strerror(errno) << "\n";
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    err << "error: " << visible(file) << ": not a regular file\n";
    close(fd);
    return -1;
  }
  return fd;
}
