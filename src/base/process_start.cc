// Reading a process's start time from /proc.
#include "base/process_start.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>

namespace {

constexpr char kProc[] = "/proc";
constexpr int kStartTimeField = 22;

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::string process_start_time(pid_t pid) {
  if (pid <= 0) return "";
  // Relative to a descriptor of /proc, never by the path "/proc/PID/stat":
  // an emulator running the daemon (qemu-user on a development machine)
  // intercepts its own process's stat file opened by that path and fakes
  // the start time, so the daemon would publish another time than arctl
  // reads for it.
  const Fd proc{open(kProc, O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (proc.fd < 0) return "";
  const Fd stat{openat(proc.fd, (std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC)};
  if (stat.fd < 0) return "";
  std::string text;
  char buffer[1024];
  for (ssize_t n; (n = read(stat.fd, buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "";
    text.append(buffer, static_cast<size_t>(n));
  }
  // Field 2, the command name in parentheses, may hold blanks and
  // parentheses itself: the fields after it are counted from its last ')'.
  size_t at = text.rfind(')');
  if (at == std::string::npos) return "";
  ++at;
  for (int field = 3; field <= kStartTimeField; ++field) {
    while (at < text.size() && text[at] == ' ') ++at;
    const size_t end = text.find(' ', at);
    const std::string value = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (value.empty()) return "";
    if (field == kStartTimeField) {
      for (const char c : value) {
        if (!isdigit(static_cast<unsigned char>(c))) return "";
      }
      return value;
    }
    if (end == std::string::npos) return "";
    at = end;
  }
  return "";
}
