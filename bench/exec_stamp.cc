// The program the action-start benchmark runs: the first thing it does is
// to write the monotonic clock, in nanoseconds, to the FIFO named by its
// argument. Linked statically, so its start costs the same however it is
// started and as little as a program's start can.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>

int main(int argc, char** argv) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (argc < 2) return 2;
  const int64_t ns = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  const int fd = open(argv[1], O_WRONLY | O_CLOEXEC);
  if (fd < 0 || write(fd, &ns, sizeof ns) != static_cast<ssize_t>(sizeof ns)) return 1;
  return 0;
}
