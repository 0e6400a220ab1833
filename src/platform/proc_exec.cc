// Starting a child program without waiting for it.
#include "platform/proc_exec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace {

// Runs in the child, which shares the parent's memory until exec: only
// system calls, no allocation, no library state.
[[noreturn]] void exec_child(const char* path, char* const argv[], char* const envp[]) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    sigaction(sig, &dfl, nullptr);
  }
  const int null_fd = open("/dev/null", O_RDONLY);
  if (null_fd >= 0 && null_fd != STDIN_FILENO) {
    dup2(null_fd, STDIN_FILENO);
    close(null_fd);
  }
  // Nothing of the daemon but standard output and error goes along.
  if (syscall(SYS_close_range, 3U, ~0U, 0U) != 0) {
    // Kernels before 5.9: close what the descriptor limit allows.
    const long limit = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < (limit > 0 ? limit : 1024); ++fd) close(static_cast<int>(fd));
  }
  // A group of its own, so a time-out can end the program together with
  // everything it started.
  setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  static char* const kNoArguments[] = {nullptr};
  execve(path, argv != nullptr ? argv : kNoArguments, envp != nullptr ? envp : environ);
  _exit(127);
}

}  // namespace

pid_t brimvale_proc_exec_env_nowait(const char* path, char* const argv[], char* const envp[], int /*mode*/) {
  // Signals stay blocked until the child has reset every handler, so no
  // handler of the daemon ever runs in the child.
  sigset_t all;
  sigset_t saved;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &saved);
  const pid_t pid = vfork();
  if (pid == 0) exec_child(path != nullptr ? path : "", argv, envp);
  const int saved_errno = errno;
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  errno = saved_errno;
  return pid;
}
