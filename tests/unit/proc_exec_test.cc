// Starting children: what they inherit and what they do not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>


#include "platform/proc_exec.h"

namespace {

// Starts path with args and env (empty: a null vector); its exit code.
int run(const char* path, std::vector<std::string> args, std::vector<std::string> env = {}) {
  std::vector<char*> a, e;
  for (std::string& s : args) a.push_back(s.data());
  for (std::string& s : env) e.push_back(s.data());
  a.push_back(nullptr), e.push_back(nullptr);
  const pid_t pid =
      brimvale_proc_exec_env_nowait(path, args.empty() ? nullptr : a.data(), env.empty() ? nullptr : e.data(), 2);
  int status = 0;
  EXPECT_EQ(pid, waitpid(pid, &status, 0));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcExec, ChildrenKeepNothingOfTheDaemonButItsOutputAndEnvironment) {
  const int fd = open("/dev/null", O_RDONLY);  // not close-on-exec
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &saved);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR2);
  sigprocmask(SIG_BLOCK, &block, &old);
  setenv("AR_TEST_INHERITED", "yes", 1);
  // SIGUSR1 is bit 9 and SIGUSR2 bit 11 of the masks.
  const std::string script = "test -e /proc/self/fd/" + std::to_string(fd) + " && exit 1;"
      "while read k v; do case $k in SigIgn:|SigBlk:) [ $((0x$v & 0xa00)) = 0 ] || exit 3;; esac;"
      "done < /proc/self/status;"
      "[ \"$AR_TEST_INHERITED\" = yes ] || exit 4";
  EXPECT_EQ(0, run("/bin/sh", {"sh", "-c", script}));
  EXPECT_EQ(0, run("/bin/sh", {"sh", "-c", "[ \"$A|$AR_TEST_INHERITED\" = \"one two|\" ]"}, {"A=one two"}));
  EXPECT_EQ(127, run("/nonexistent/missing", {"missing"}));  // exec failed
  unsetenv("AR_TEST_INHERITED");
  sigprocmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGUSR1, &saved, nullptr);
  close(fd);
}

}  // namespace
