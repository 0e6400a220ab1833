// End-to-end test support: private directories, child processes, a raw
// infod client, the development infod and the development daemon in a
// private root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/test_daemon.h"

namespace e2e {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kRS = "\x1e";

// One frame: the 4-byte big-endian length and the body.
std::string frame(const std::string& body);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text, mode_t mode = 0644);

// Polls until predicate holds or timeout passes; returns the last result.
template <class Predicate>
bool eventually(Predicate predicate, int timeout_ms = 10000) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (predicate()) return true;
    if (SteadyClock::now() >= deadline) return false;
    struct timespec ts {0, 10 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
}

// A private directory, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Starts binary with args (argv[0] is the binary) and extra environment;
// standard input from /dev/null, output to out_fd (or /dev/null when -1),
// error appended to err_path. Returns the pid or -1.
pid_t spawn(const std::string& binary, const std::vector<std::string>& args, int out_fd,
            const std::string& err_path, const std::map<std::string, std::string>& env = {});

// Waits for pid; the exit code, or 128 plus the signal.
int wait_status(pid_t pid);

// The same, giving up (and killing the child) after timeout_ms: -1 then.
int wait_status_for(pid_t pid, int timeout_ms);

struct Result {
  int status = -1;
  std::string out;
};

// Runs a command to its end and collects its standard output.
Result run(const std::string& binary, const std::vector<std::string>& args, const std::string& err_path);

// A connected stream socket, or -1.
int connect_to(const std::string& path);

// A raw infod client with blocking writes and bounded reads.
class Raw {
 public:
  explicit Raw(const std::string& path);
  ~Raw();
  Raw(const Raw&) = delete;
  Raw& operator=(const Raw&) = delete;
  bool connected() const { return fd_ >= 0; }
  bool write_all(const std::string& bytes) const;
  // Up to len bytes within timeout_ms.
  std::string read_bytes(size_t len, int timeout_ms = 5000);
  // The next frame's body, or "" when none arrives.
  std::string read_body(int timeout_ms = 5000);
  // True when the peer closes the connection within 5 s.
  bool closed_by_peer();
  // Bodies of all frames up to the reply to a get of marker.
  std::vector<std::string> bodies_until_reply(const std::string& marker);
  bool push(const std::string& key, const std::string& value, int number = 0) const;
  bool subscribe(const std::string& key, const std::string& client = "raw") const;

 private:
  int fd_;
  bool eof_ = false;
};

// The development infod on a socket, with its frame log.
class DevInfod {
 public:
  DevInfod(const std::string& socket, const std::string& log, const std::string& err);
  ~DevInfod();
  // Starts the server and waits until it accepts connections.
  bool start();
  // Stops it with SIGTERM; its exit status.
  int stop();
  // Runs a client command (push, get, watch ...) against it.
  Result command(std::vector<std::string> args) const;
  // Whether the frame log holds a whole line equal to line, waiting for it.
  bool logged(const std::string& line, int timeout_ms = 10000) const;
  // Whether the frame log contains text anywhere, waiting for it.
  bool log_contains(const std::string& text, int timeout_ms = 10000) const;
  // How many lines of the frame log begin with prefix, now.
  int count_lines(const std::string& prefix) const;
  std::string log() const { return read_file(log_); }
  const std::string& socket() const { return socket_; }
  pid_t pid() const { return pid_; }

 private:
  std::string socket_, log_, err_;
  pid_t pid_ = -1;
};

// A private root for the development daemon: the directory tree of the
// appliance's fixed paths, a development infod on its socket, and the
// daemon itself.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  const std::string& root() const { return dir_.path(); }
  std::string path(const std::string& relative) const { return root() + relative; }

  void write_config(const ConfigBuilder& config);
  // The lines a recording stand-in program at relative wrote, one a call.
  std::vector<std::string> calls(const std::string& relative) const;
  void write_uptime(const std::string& text);

  bool start_infod();
  // Starts the development daemon (or binary) in the root.
  bool start_daemon(const std::string& binary = "");
  // The daemon's exit status within timeout_ms, -1 when still running.
  int daemon_exit(int timeout_ms);
  void signal_daemon(int sig);
  bool daemon_running() const;
  // The daemon's standard error (its log).
  std::string daemon_log() const { return read_file(path("/daemon.log")); }
  bool daemon_logged(const std::string& text, int timeout_ms = 10000) const;

  // Pushes through a raw client connection.
  bool push(const std::string& key, const std::string& value);

  DevInfod& infod() { return *infod_; }
  pid_t daemon_pid() const { return daemon_; }

 private:
  TempDir dir_;
  std::unique_ptr<DevInfod> infod_;
  pid_t daemon_ = -1;
  int daemon_status_ = -1;
};

const std::string& build_dir();
const std::string& source_dir();

}  // namespace e2e
