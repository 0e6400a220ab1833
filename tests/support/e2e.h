// End-to-end test support: child processes, infod connections, the development infod and daemon.
#pragma once

#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/rules.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace e2e {

using SteadyClock = std::chrono::steady_clock;

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text, mode_t mode = 0644);
inline const std::string kBuildDir = AR_BUILD_DIR;

template <class Predicate>
bool eventually(Predicate predicate, int timeout_ms = 30000) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  for (struct timespec ts{0, 10 * 1000 * 1000}; !predicate(); nanosleep(&ts, nullptr)) {
    if (SteadyClock::now() >= deadline) return false;
  }
  return true;
}

struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string path_;
};

// Input from /dev/null, output to out_fd (or /dev/null when -1), error appended to err_path.
pid_t spawn(const std::string& binary, const Strings& args, int out_fd, const std::string& err_path,
            const std::map<std::string, std::string>& env = {});

// The command that starts this build's program name (through the emulator of a cross build).
Strings built_command(const std::string& name);
pid_t spawn_built(const std::string& name, Strings args, int out_fd, const std::string& err_path,
                  const std::map<std::string, std::string>& env = {});
std::string shell_quote(const Strings& words);

struct Ran { int status; std::string out, err; };
// The command is killed after timeout_ms.
Ran run(Strings command, const Strings& args, const std::string& out_path, const std::string& err_path,
        const std::map<std::string, std::string>& env = {}, int timeout_ms = 10000);
// Root with mount namespaces, which a test needs to run a program under mounts of its own.
bool can_unshare();
pid_t spawn_unshared(const std::string& script, const std::string& err_path,
                     const std::map<std::string, std::string>& env = {});

// The exit code (128 plus the signal when killed); -1, the child killed, after timeout_ms.
int wait_exit(pid_t pid, int timeout_ms = 30000);

int bound_socket(int type, const std::string& path);

// Writes bytes to fd in a thread of its own, as fast as the other end reads; join() before looking.
std::thread write_later(int fd, std::string bytes);

// A raw infod connection with blocking writes and bounded reads.
class Raw {
 public:
  explicit Raw(int fd) : fd_(fd) {}
  explicit Raw(const std::string& socket);
  ~Raw();
  bool connected() const { return fd_ >= 0; }
  bool write_all(const std::string& bytes) const;
  // Up to len bytes, as long as each piece comes within timeout_ms.
  std::string read_bytes(size_t len, int timeout_ms = 15000) const;
  std::string read_body(int timeout_ms = 15000) const;  // "" when no frame comes
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct DevInfod {
  ~DevInfod() { stop(); }
  bool start();  // and waits until it accepts connections
  int stop();    // with SIGTERM; its exit status
  std::pair<int, std::string> command(Strings args) const;
  // Waits (30 s unless told) for a line of the log beginning with text.
  bool logged(const std::string& text, int timeout_ms = 30000) const;
  std::string socket, log, err;
  pid_t pid = -1;
};

// A private root for the development daemon: the appliance's fixed paths and an infod (not started).
struct Sandbox {
  Sandbox();
  ~Sandbox() { daemon_exit(0); }
  std::string path(const std::string& relative) const { return dir.path() + relative; }
  void write_config(const ConfigBuilder& c) { write_file(path("/etc/config/config.xml"), c.xml()); }
  bool start_daemon(const std::string& log = "");  // its standard error goes to log, else daemon.log
  // The daemon against the caller's own socket at infod's path: the connected socket, or -1 after 30 s.
  int start_daemon_against_own_socket(const std::string& log = "");
  // Writes config, starts infod and the daemon, and waits for the line ready in infod's log.
  bool start(const ConfigBuilder& config, const std::string& ready) {
    write_config(config);
    return infod.start() && start_daemon() && infod.logged(ready);
  }
  int daemon_exit(int timeout_ms = 30000) { return wait_exit(std::exchange(daemon, -1), timeout_ms); }
  bool daemon_running() const { return daemon > 0 && waitpid(daemon, nullptr, WNOHANG) == 0; }
  pid_t daemon_pid() const { return daemon; }
  bool daemon_logged(const std::string& text) const {  // its standard error
    return eventually([&] { return read_file(path("/daemon.log")).find(text) != std::string::npos; });
  }
  // Pushes through the client, which returns once infod has handled it.
  bool push(const std::string& key, const std::string& value) { return infod.command({"push", key, value}).first == 0; }
  std::string calls(const std::string& relative) const { return read_file(path(relative) + ".calls"); }

  TempDir dir;
  pid_t daemon = -1;
  DevInfod infod{path("/var/run/infod-sock"), path("/infod.log"), path("/infod.err")};
};

// Puts a recording stand-in at relative ("/bin/ioc") in box; each call is a line of its arguments joined by '|'.
void fake(const Sandbox& box, const std::string& relative);

// Sets prefix + key to value for each ';'-separated "key=value" of settings.
void set_all(ConfigBuilder& c, const std::string& prefix, const std::string& settings);
void add_rule(ConfigBuilder& c, int n, const std::string& name, const std::string& check_type,
              const std::string& settings);

// Frame-log lines: rule n's first reference entering state; a line pushed to the log key.
inline std::string state_line(int n, const std::string& state) {
  return "<- push " + rule_path(n) + ".refs.ref1.status 2 " + state;
}
inline std::string log_line(const std::string& text) { return "<- push config.autoresponse.log 0 " + text; }

// How often needle stands in text, overlaps included.
int count(const std::string& text, const std::string& needle);

void expect_no_sanitizer_report(const std::string& path);

// Takes infod away: the daemon must end with status 1, and neither with a sanitizer report.
void expect_clean_end(Sandbox& box);

}  // namespace e2e
