// Starting a child program without waiting for it.
#include "platform/proc_exec.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

extern char** environ;

namespace {

// What every child is given, as the C library's spawn attributes and file
// actions. error() tells whether making them failed.
class SpawnSetup {
 public:
  SpawnSetup() {
    if ((error_ = posix_spawnattr_init(&attr_)) != 0) return;
    attr_ready_ = true;
    if ((error_ = posix_spawn_file_actions_init(&actions_)) != 0) return;
    actions_ready_ = true;
    // Every signal back to its default. sigfillset leaves out the two
    // signals the C library keeps for itself, and the spawn would then leave
    // them ignored in the program; set every bit instead.
    sigset_t all;
    std::memset(&all, 0xff, sizeof all);
    sigset_t none;
    sigemptyset(&none);
    // A group of its own (the child leads it), so a time-out can end the
    // program together with everything it started.
    error_ = posix_spawnattr_setflags(
        &attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    if (error_ == 0) error_ = posix_spawnattr_setsigdefault(&attr_, &all);
    if (error_ == 0) error_ = posix_spawnattr_setsigmask(&attr_, &none);
    if (error_ == 0) error_ = posix_spawnattr_setpgroup(&attr_, 0);
    // Nothing of the daemon but standard output and error goes along.
    if (error_ == 0) error_ = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    if (error_ == 0) error_ = posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  ~SpawnSetup() {
    if (actions_ready_) posix_spawn_file_actions_destroy(&actions_);
    if (attr_ready_) posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int error() const { return error_; }
  const posix_spawnattr_t* attr() const { return &attr_; }
  const posix_spawn_file_actions_t* actions() const { return &actions_; }

 private:
  posix_spawnattr_t attr_{};
  posix_spawn_file_actions_t actions_{};
  bool attr_ready_ = false;
  bool actions_ready_ = false;
  int error_ = 0;
};

// Made once and kept, as every child is started the same way; made again
// while making it fails.
const SpawnSetup& spawn_setup() {
  static std::optional<SpawnSetup> setup;
  if (!setup || setup->error() != 0) setup.emplace();
  return *setup;
}

// Whether a failed spawn made no child at all: these are what creating a
// process reports. Every other failure happened in a child, before or at
// its exec, and the C library has already reaped that child.
bool no_child_made(int error) { return error == EAGAIN || error == ENOMEM; }

// A child that only ends with status 127, standing for one whose program
// could not be executed. It runs nothing and touches no memory it shares
// with the daemon; signals stay blocked until it has gone, so no handler
// of the daemon runs in it.
pid_t exited_127_child() {
  sigset_t all;
  sigset_t saved;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &saved);
  const pid_t pid = vfork();
  if (pid == 0) {
    setpgid(0, 0);
    _exit(127);
  }
  const int saved_errno = errno;
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  errno = saved_errno;
  return pid;
}

}  // namespace

pid_t brimvale_proc_exec_env_nowait(const char* path, char* const argv[], char* const envp[], int /*mode*/) {
  const SpawnSetup& setup = spawn_setup();
  if (setup.error() != 0) {
    errno = setup.error();
    return -1;
  }
  static char* const kNoArguments[] = {nullptr};
  pid_t pid = -1;
  const int error = posix_spawn(&pid, path != nullptr ? path : "", setup.actions(), setup.attr(),
                                argv != nullptr ? argv : kNoArguments, envp != nullptr ? envp : environ);
  if (error == 0) return pid;
  // The C library reports a program it could not execute as a failed call
  // without a child (where the system emulates the start, a child is made
  // and ends with 127 instead). The action ends with 127 in both cases.
  if (!no_child_made(error)) return exited_127_child();
  errno = error;
  return -1;
}
