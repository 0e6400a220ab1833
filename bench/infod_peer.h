// The infod end of the link benchmarks: the development daemon in a
// private root connects to a socket the benchmark listens on, and the
// benchmark reads and writes the frames itself.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/e2e.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace bench {

// Writes all of bytes to the socket fd, however many sends it takes.
inline bool send_whole(int fd, const std::string& bytes) {
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

// The log frame of the last reference of a rule file's rules entering
// Normal: the last frame a load of the file sends.
inline std::string last_normal(int rules) { return "index=" + std::to_string(rules) + ", ref=1, state=Normal"; }

inline std::string update(const std::string& key, const std::string& value) {
  return frame_of(update_body(key, 0, 1700000000000ULL, value));
}

// The body of the daemon's get of key (a trigger counter's), and infod's
// framed reply that it holds no value.
inline std::string get_of(const std::string& key) { return request_body(kInfodGet, "ard", key); }
inline std::string no_value(const std::string& key) { return frame_of(reply_body(key, std::nullopt)); }

// Plays infod to the client at fd: writes the batch and reads answers, in
// one thread, until `expected` frames holding `answer` came back (others,
// such as log lines of actions, are passed over). Seconds taken; negative
// when the answers stop.
inline double drive(int fd, const std::string& batch, int expected, const std::string& answer) {
  FrameReader frames;
  std::vector<char> buf(64 * 1024);
  int got = 0;
  size_t off = 0;
  const auto t0 = std::chrono::steady_clock::now();
  while (got < expected) {
    pollfd p{fd, static_cast<short>(POLLIN | (off < batch.size() ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 10000) != 1) return -1;
    if ((p.revents & POLLOUT) != 0) {
      const ssize_t n = ::send(fd, batch.data() + off, batch.size() - off, MSG_DONTWAIT | MSG_NOSIGNAL);
      if (n > 0) off += static_cast<size_t>(n);
    }
    if ((p.revents & POLLIN) != 0) {
      const ssize_t n = recv(fd, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n == 0) return -1;
      if (n > 0) frames.feed(buf.data(), static_cast<size_t>(n));
      for (std::string_view body; frames.next(&body) == FrameReader::Status::kFrame;) {
        got += body.find(answer) != std::string_view::npos ? 1 : 0;
      }
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// A daemon of this build started on a configuration, connected to us.
class InfodPeer {
 public:
  InfodPeer() = default;
  InfodPeer(const InfodPeer&) = delete;
  InfodPeer& operator=(const InfodPeer&) = delete;
  ~InfodPeer() {
    if (fd_ >= 0) close(fd_);  // the daemon ends when infod goes away
  }

  // Writes the configuration, starts the daemon (its log to log, the
  // sandbox's own when empty) and waits for the frame holding ready.
  bool start(const std::string& config_xml, const std::string& ready, const std::string& log = "") {
    e2e::write_file(box_.path("/etc/config/config.xml"), config_xml);
    fd_ = box_.start_daemon_against_own_socket(log);
    return fd_ >= 0 && read_until(ready, 60000);
  }
  // The same on a rule file of `rules` rules, until its load has ended.
  bool start(const std::string& config_xml, int rules) { return start(config_xml, last_normal(rules)); }

  // Makes the daemon reload (SIGHUP) and waits for the frame holding ready.
  bool reload(const std::string& ready) { return kill(pid(), SIGHUP) == 0 && read_until(ready, 60000); }

  // The daemon's resident set in kB, once what it was writing is written;
  // 0 when it cannot be read.
  long rss_kb() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::ifstream in("/proc/" + std::to_string(pid()) + "/status");
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
    }
    return 0;
  }

  // Reads frames until one whose body contains text; false after timeout_ms
  // without it. Frames before it are passed to seen(body) when given.
  template <class Seen>
  bool read_until(const std::string& text, int timeout_ms, Seen seen) {
    std::vector<char> buf(65536);
    // Frames after the one looked for stay in the reader for the next call.
    while (true) {
      for (std::string_view body; frames_.next(&body) == FrameReader::Status::kFrame;) {
        const std::string b(body);
        seen(b);
        if (b.find(text) != std::string::npos) return true;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeout_ms) != 1) return false;
      const ssize_t n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n <= 0) return false;
      frames_.feed(buf.data(), static_cast<size_t>(n));
    }
  }
  bool read_until(const std::string& text, int timeout_ms = 10000) {
    return read_until(text, timeout_ms, [](const std::string&) {});
  }

  bool send(const std::string& bytes) const { return send_whole(fd_, bytes); }

  // Puts the environmental rule of port into Triggered with a reading of
  // 99 (rule files name each rule after its port), answering its trigger
  // counter's get with no stored count.
  bool trigger(int port) {
    const std::string p = "config.ports.port" + std::to_string(port);
    const std::string counter = p + ".enviro.count.temp";
    return send(update(p + ".enviro.temp", "99")) && read_until(get_of(counter)) && send(no_value(counter)) &&
           read_until("index=" + std::to_string(port) + ", ref=1, state=Triggered");
  }

  int fd() const { return fd_; }
  pid_t pid() const { return box_.daemon_pid(); }
  e2e::Sandbox& box() { return box_; }

 private:
  e2e::Sandbox box_;
  int fd_ = -1;
  FrameReader frames_;
};

}  // namespace bench
