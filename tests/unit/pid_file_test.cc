// The daemon's pid file: written under a lock that another process sees held by the daemon, refused while another
// process holds it, taken over when left behind, and removed at the end only while it is the daemon's own.
#include "daemon/pid_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "base/log.h"
#include "support/e2e.h"
#include "support/test_daemon.h"

namespace {

using e2e::read_file;
using e2e::write_file;

// The holder of path's lock as another process sees it: a child asks and exits with the answer's place among
// candidates (0: none, 1: the first, ...), 255 when it is none of them.
int holder_seen(const std::string& path, const std::vector<pid_t>& candidates) {
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t holder = fd < 0 ? -1 : pid_file_holder(fd);
    if (holder == 0) _exit(0);
    for (size_t i = 0; i < candidates.size(); ++i) {
      if (candidates[i] == holder) _exit(static_cast<int>(i + 1));
    }
    _exit(255);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PidFile, TheDaemonHoldsItsLockAnotherHolderKeepsItAndOnlyItsOwnFileIsRemoved) {
  e2e::TempDir dir;
  const std::string path = dir.path() + "/autoresponsed.pid";
  // Left behind by an earlier daemon: taken over, its pid replaced.
  write_file(path, "123456789\n", 0600);
  const int fd = pid_file_lock(path, 4321);
  ASSERT_GE(fd, 0);
  // Read through the descriptor: closing one of its own would drop this process's lock.
  char text[16] = "";
  EXPECT_EQ(5, pread(fd, text, sizeof text, 0));
  EXPECT_STREQ("4321\n", text);
  EXPECT_EQ(FD_CLOEXEC, fcntl(fd, F_GETFD) & FD_CLOEXEC);
  struct stat st {};
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 07777);
  EXPECT_EQ(1, holder_seen(path, {getpid()}));
  pid_file_release(path, fd);
  EXPECT_FALSE(std::filesystem::exists(path));
  // Another process holds it: nothing written, the reason logged.
  int ready[2], hold[2];  // the child says whether it holds the lock, and holds it until the test ends
  ASSERT_EQ(0, pipe(ready));
  ASSERT_EQ(0, pipe(hold));
  const pid_t other = fork();
  if (other == 0) {
    close(hold[1]);
    const char c = pid_file_lock(path, getpid()) >= 0 ? 'y' : 'n';
    if (write(ready[1], &c, 1) != 1) _exit(1);
    char end = 0;
    while (read(hold[0], &end, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  ASSERT_EQ('y', c) << "the child could not lock " << path;
  {
    LogCapture log;
    EXPECT_EQ(-1, pid_file_lock(path, 99));
    EXPECT_EQ(Strings{"Could not write pid file " + path + ": process " + std::to_string(other) + " holds its lock"},
              log.texts());
  }
  EXPECT_EQ(std::to_string(other) + "\n", read_file(path));
  EXPECT_EQ(1, holder_seen(path, {other}));
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
  close(hold[1]);
  // Killed: the file stays, locked by no one.
  EXPECT_EQ(0, holder_seen(path, {other}));
  // A file that another daemon put in its place since is left alone.
  const int again = pid_file_lock(path, 55);
  ASSERT_GE(again, 0);
  ASSERT_EQ(0, rename(path.c_str(), (path + ".old").c_str()));
  write_file(path, "77\n");
  pid_file_release(path, again);
  EXPECT_EQ("77\n", read_file(path));
}

}  // namespace
