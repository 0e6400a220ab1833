// Starting children: what they inherit and what they do not.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/proc_exec.h"
#include "support/e2e.h"

namespace {

// Starts path with args and env (empty: a null vector); its exit code.
int run(const char* path, std::vector<std::string> args, std::vector<std::string> env = {}) {
  std::vector<char*> a, e;
  for (std::string& s : args) a.push_back(s.data());
  for (std::string& s : env) e.push_back(s.data());
  a.push_back(nullptr), e.push_back(nullptr);
  const pid_t pid =
      brimvale_proc_exec_env_nowait(path, args.empty() ? nullptr : a.data(), env.empty() ? nullptr : e.data(), 2);
  EXPECT_GT(pid, 0);
  int status = 0;
  EXPECT_EQ(pid, waitpid(pid, &status, 0));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ProcExec, ChildrenKeepNothingOfTheDaemonButItsOutputAndEnvironment) {
  // The daemon's standard input is a pipe here, and neither end of it may
  // reach the child (the ends kept clear of 0, which may be closed).
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  const int pipe_fds[2] = {fcntl(ends[0], F_DUPFD, 10), fcntl(ends[1], F_DUPFD, 10)};
  close(ends[0]), close(ends[1]);
  const int saved_stdin = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 10);
  dup2(pipe_fds[0], STDIN_FILENO);
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &saved);
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR2);
  sigprocmask(SIG_BLOCK, &block, &old);
  setenv("AR_TEST_INHERITED", "yes", 1);
  // No signal ignored or blocked, those the C library keeps for itself
  // included; the fifth field of /proc/self/stat is the process group.
  const std::string script = "for fd in " + std::to_string(pipe_fds[0]) + " " + std::to_string(pipe_fds[1]) +
      "; do test -e /proc/self/fd/$fd && exit 1; done;"
      "[ /dev/stdin -ef /dev/null ] || exit 2;"
      "while read k v; do case $k in SigIgn:|SigBlk:) [ $((0x$v)) = 0 ] || exit 3;; esac;"
      "done < /proc/self/status;"
      "[ \"$AR_TEST_INHERITED\" = yes ] || exit 4;"
      "read pid comm state ppid pgrp rest < /proc/self/stat; [ \"$pgrp\" = $$ ] || exit 5";
  EXPECT_EQ(0, run("/bin/sh", {"sh", "-c", script}));
  EXPECT_EQ(0, run("/bin/sh", {"sh", "-c", "[ \"$A|$AR_TEST_INHERITED\" = \"one two|\" ]"}, {"A=one two"}));
  unsetenv("AR_TEST_INHERITED");
  sigprocmask(SIG_SETMASK, &old, nullptr);
  sigaction(SIGUSR1, &saved, nullptr);
  if (saved_stdin >= 0) dup2(saved_stdin, STDIN_FILENO), close(saved_stdin);
  else close(STDIN_FILENO);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

// However the program fails to start, the caller reaps a child that ended
// with 127 and never sees the call fail.
TEST(ProcExec, ProgramsThatCannotBeExecutedEndWith127) {
  const e2e::TempDir dir;
  const std::string not_executable = dir.path() + "/not-executable";
  const std::string not_a_program = dir.path() + "/not-a-program";
  e2e::write_file(not_executable, "#!/bin/sh\nexit 0\n", 0644);
  e2e::write_file(not_a_program, std::string("\x7f" "ELF", 4) + std::string(60, '\0'), 0755);
  const struct {
    const char* what;
    const char* path;
  } cases[] = {
      {"missing", "/nonexistent/missing"},
      {"a directory", "/"},
      {"without execute permission", not_executable.c_str()},
      {"not a program", not_a_program.c_str()},
      {"no path", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(127, run(c.path, {"program"}));
    EXPECT_EQ(127, run(c.path, {}));
  }
}

}  // namespace
