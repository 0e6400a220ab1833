// The production daemon as the appliance runs it: the program of this
// build (through the emulator of a cross build) at its fixed paths, in a
// private mount namespace whose /var/run, /dev, /etc and /bin are a
// sandbox's, against a small infod of the benchmark's own. That infod
// listens at the sandbox's /var/run/infod-sock, reads every frame the
// daemon sends in a thread of its own and answers each get at once with no
// value, as an infod that holds none does; the sandbox's /dev/log takes
// the daemon's syslog lines, read and dropped by another thread.
//
// The machine's own /var/run, /etc and /bin are never written or run
// from: the namespace is the daemon's alone, and every program an action
// starts there is the sandbox's recording stand-in.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "infod_peer.h"
#include "support/e2e.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace bench {

// A figure of /proc/PID/status ("VmRSS", "VmHWM") in kB; 0 when it cannot
// be read.
inline long proc_status_kb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, field.size() + 1, field + ":") == 0) return std::stol(line.substr(field.size() + 1));
  }
  return 0;
}

// Seconds of CPU time (user and system) that process pid has used.
inline double process_cpu_seconds(pid_t pid) {
  clockid_t clock;
  timespec t{};
  if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds of CPU time this thread has used.
inline double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// infod's end of a connection: a thread reads every frame that comes,
// counts those that hold the needle looked for, keeps their keys when
// asked to, and answers each get at once with no value.
class InfodEnd {
 public:
  // Takes fd over; needle is expected from the first frame on, and the
  // bodies kept from the first when keeping.
  explicit InfodEnd(int fd, std::string needle = "", bool keeping = false)
      : fd_(fd), needle_(std::move(needle)), keeping_(keeping), reader_([this] { read_frames(); }) {}
  InfodEnd(const InfodEnd&) = delete;
  InfodEnd& operator=(const InfodEnd&) = delete;
  // The other end must have gone away (or shutdown() been called) first.
  ~InfodEnd() {
    shutdown();
    reader_.join();
    close(fd_);
  }
  void shutdown() const { ::shutdown(fd_, SHUT_RDWR); }

  // From now on frames holding needle are counted, from zero.
  void expect(const std::string& needle) {
    std::lock_guard<std::mutex> lock(mutex_);
    needle_ = needle;
    hits_ = 0;
  }
  // Waits until count frames holding the expected needle have come; false
  // after timeout_ms without them, or when the other end has gone.
  bool wait(long count, int timeout_ms = 120000) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return hits_ >= count || !open_; });
    return hits_ >= count;
  }
  // expect(needle), then the action, then waits for one frame holding it.
  template <class Action>
  bool await(const std::string& needle, Action action, int timeout_ms = 120000) {
    expect(needle);
    return action() && wait(1, timeout_ms);
  }

  // Whether the bodies that come are kept (from empty), and what was kept.
  void keep(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    keeping_ = on;
    kept_.clear();
  }
  std::vector<std::string> kept() {
    std::lock_guard<std::mutex> lock(mutex_);
    return kept_;
  }

  // Writes bytes to the other end.
  bool send(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(send_mutex_);
    return send_whole(fd_, bytes);
  }

  // Waits until no frame has come for quiet_ms.
  void settle(int quiet_ms = 300) const {
    for (uint64_t seen = frames();;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(quiet_ms));
      const uint64_t now = frames();
      if (now == seen) return;
      seen = now;
    }
  }

  uint64_t frames() const { return frames_.load(); }
  uint64_t bytes() const { return bytes_.load(); }
  uint64_t gets_answered() const { return gets_.load(); }
  int fd() const { return fd_; }

 private:
  void read_frames() {
    FrameReader frames;
    std::vector<char> buf(256 * 1024);
    std::string replies;
    for (;;) {
      const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
      if (n <= 0) break;
      bytes_ += static_cast<uint64_t>(n);
      frames.feed(buf.data(), static_cast<size_t>(n));
      long hit = 0;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        for (std::string_view body; frames.next(&body) == FrameReader::Status::kFrame;) {
          ++frames_;
          if (!needle_.empty() && body.find(needle_) != std::string_view::npos) ++hit;
          if (keeping_) kept_.emplace_back(body);
          // "4 RS client RS key": infod holds no value for it.
          if (body.size() > 2 && body[0] == '4' && body[1] == kRS) {
            const size_t key = body.find(kRS, 2);
            if (key != std::string_view::npos) {
              replies += frame_of(reply_body(body.substr(key + 1), std::nullopt));
              ++gets_;
            }
          }
        }
        hits_ += hit;
      }
      if (hit > 0) changed_.notify_all();
      if (!replies.empty()) {
        send(replies);
        replies.clear();
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = false;
    changed_.notify_all();
  }

  int fd_;
  std::mutex mutex_, send_mutex_;
  std::condition_variable changed_;
  std::string needle_;  // guarded by mutex_, as all below but the counts
  long hits_ = 0;
  bool open_ = true;
  bool keeping_ = false;
  std::vector<std::string> kept_;
  std::atomic<uint64_t> frames_{0}, bytes_{0}, gets_{0};
  std::thread reader_;  // last: it starts once everything it uses is made
};

class ApplianceDaemon {
 public:
  // daemon: the command that runs the production daemon; this build's
  // (through its emulator) when empty.
  explicit ApplianceDaemon(Strings daemon = {}) : command_(std::move(daemon)) {
    if (command_.empty()) command_ = e2e::built_command("autoresponsed");
    for (const char* d : {"/var/run", "/dev", "/etc/config", "/etc/scripts", "/bin"}) {
      std::filesystem::create_directories(box_.path(d));
    }
    // Every program the rules' actions may start records its calls.
    for (const char* program : {"/bin/pmpower", "/bin/ioc", "/bin/run_check", "/etc/scripts/alert-email"}) {
      std::filesystem::create_symlink(e2e::kBuildDir + "/fake_program", box_.path(program));
    }
    // The dynamic loader's cache, so that the programs started after /etc
    // is the sandbox's find their libraries as fast as outside.
    std::error_code ignored;
    std::filesystem::copy_file("/etc/ld.so.cache", box_.path("/etc/ld.so.cache"), ignored);
  }
  ApplianceDaemon(const ApplianceDaemon&) = delete;
  ApplianceDaemon& operator=(const ApplianceDaemon&) = delete;
  ~ApplianceDaemon() { stop(); }

  // Writes the configuration and starts the daemon; true once it has
  // connected to infod, whose frames holding needle are counted from the
  // first (and kept, when keeping).
  bool start(const std::string& config_xml, const std::string& needle = "", bool keeping = false) {
    write_config(config_xml);
    syslog_fd_ = e2e::bound_socket(SOCK_DGRAM, box_.path("/dev/log"));
    const int listener = e2e::bound_socket(SOCK_STREAM, box_.path("/var/run/infod-sock"));
    if (syslog_fd_ < 0 || listener < 0 || listen(listener, 1) != 0) return false;
    draining_ = true;
    syslog_ = std::thread([this] { drain_syslog(); });
    // Children of actions read /dev/null: the machine's own, bound over the
    // sandbox's, which comes along when the sandbox's /dev is bound over
    // /dev. The emulator of a cross build lives in /bin, which the
    // sandbox's hides, and is bound where the daemon is started from. /bin
    // comes last: mount itself lives there.
    e2e::write_file(box_.path("/dev/null"), "");
    const std::string b = box_.path("");
    std::string script = "set -e; mount --bind /dev/null '" + b + "/dev/null'; mount --rbind '" + b + "/dev' /dev; ";
    Strings command = command_;
    if (command.size() > 1) {
      e2e::write_file(box_.path("/emulator"), "");
      script += "mount --bind '" + command[0] + "' '" + b + "/emulator'; ";
      command[0] = b + "/emulator";
    }
    script += "mount --bind '" + b + "/var/run' /var/run; mount --bind '" + b + "/etc' /etc; mount --bind '" + b +
              "/bin' /bin; exec " + e2e::shell_quote(command);
    pid_ = e2e::spawn_unshared(script, err_path());
    int fd = -1;
    pollfd p{listener, POLLIN, 0};
    if (pid_ > 0 && poll(&p, 1, 60000) == 1) fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    close(listener);
    if (fd < 0) {
      fprintf(stderr, "the daemon did not connect: %s\n", e2e::read_file(err_path()).c_str());
      return false;
    }
    infod_ = std::make_unique<InfodEnd>(fd, needle, keeping);
    return true;
  }

  // Replaces the configuration file as an editor does (a new file renamed
  // into place).
  void write_config(const std::string& config_xml) const {
    e2e::write_file(box_.path("/etc/config/config.xml"), config_xml);
  }
  std::string config_path() const { return box_.path("/etc/config/config.xml"); }
  // Where the standard error of the namespace's shell and the daemon goes.
  std::string err_path() const { return box_.path("/daemon.err"); }

  // SIGHUP, and waits for the end of the load: its result, the last frame
  // of its traffic.
  bool reload(int timeout_ms = 120000) {
    return infod_->await(kLoadResult, [&] { return kill(pid_, SIGHUP) == 0; }, timeout_ms);
  }
  static constexpr const char* kLoadResult = "config.autoresponse.daemon.reload.result";

  InfodEnd& infod() { return *infod_; }
  long rss_kb() const { return proc_status_kb(pid_, "VmRSS"); }
  long hwm_kb() const { return proc_status_kb(pid_, "VmHWM"); }
  double cpu_seconds() const { return process_cpu_seconds(pid_); }
  pid_t pid() const { return pid_; }

  // Takes infod away: the daemon ends. Its exit status (1 when it ended as
  // it should).
  int stop() {
    if (pid_ <= 0) return -1;
    if (infod_) infod_->shutdown();
    const int status = e2e::wait_exit(pid_, 20000);
    pid_ = -1;
    infod_.reset();
    draining_ = false;
    if (syslog_.joinable()) syslog_.join();
    if (syslog_fd_ >= 0) close(syslog_fd_);
    syslog_fd_ = -1;
    return status;
  }

 private:
  void drain_syslog() const {
    char line[8192];
    while (draining_) {
      pollfd p{syslog_fd_, POLLIN, 0};
      if (poll(&p, 1, 100) == 1) (void)!recv(syslog_fd_, line, sizeof line, MSG_DONTWAIT);
    }
  }

  Strings command_;
  e2e::Sandbox box_;
  pid_t pid_ = -1;
  int syslog_fd_ = -1;
  std::atomic<bool> draining_{false};
  std::thread syslog_;
  std::unique_ptr<InfodEnd> infod_;
};

}  // namespace bench
