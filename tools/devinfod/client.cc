// The development infod's client commands over blocking UNIX sockets.
#include "devinfod/client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "devinfod/protocol.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace devinfod {

namespace {

// How long get waits for its reply and push for the server to confirm.
constexpr int kReplyTimeoutMs = 5000;

using Clock = std::chrono::steady_clock;

// One connection to the server; closed when it goes out of scope.
class Link {
 public:
  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() {
    if (fd_ >= 0) close(fd_);
  }

  // Connects to path; false with a message on standard error.
  bool open(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
      fprintf(stderr, "devinfod: socket path is empty or too long: %s\n", path.c_str());
      return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      fprintf(stderr, "devinfod: cannot connect to %s: %s\n", path.c_str(), strerror(errno));
      return false;
    }
    return true;
  }

  // Sends one frame with body; false with a message on standard error.
  bool send_frame(const std::string& body) {
    std::string frame = frame_of(body);
    size_t sent = 0;
    while (sent < frame.size()) {
      ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fprintf(stderr, "devinfod: send: %s\n", strerror(errno));
        return false;
      }
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  // Announces that nothing more will be sent.
  void finish_sending() { shutdown(fd_, SHUT_WR); }

  enum class Got { kFrame, kTimeout, kClosed, kError };

  // Waits for the next frame until deadline (none when deadline is unset);
  // its body lasts until the next call.
  Got next(std::string_view& body, const Clock::time_point* deadline) {
    for (;;) {
      FrameReader::Status status = frames_.next(&body);
      if (status == FrameReader::Status::kFrame) return Got::kFrame;
      if (status == FrameReader::Status::kOversize) return Got::kError;
      int wait = -1;
      if (deadline != nullptr) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
        if (left <= 0) return Got::kTimeout;
        wait = static_cast<int>(left);
      }
      pollfd p{fd_, POLLIN, 0};
      int ready = poll(&p, 1, wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return Got::kError;
      if (ready == 0) continue;  // the deadline check above ends the wait
      char buf[65536];
      ssize_t n = read(fd_, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Got::kError;
      if (n == 0) return Got::kClosed;
      frames_.feed(buf, static_cast<size_t>(n));
    }
  }

 private:
  int fd_ = -1;
  FrameReader frames_;
};

Clock::time_point after_ms(long ms) { return Clock::now() + std::chrono::milliseconds(ms); }

}  // namespace

int run_push(const std::string& socket_path, const std::string& key, const std::string& value, long long number) {
  Link link;
  if (!link.open(socket_path) || !link.send_frame(push_body(key, number, value))) return kExitLink;
  // The server closes a connection once it has handled all it received, so
  // the close confirms the push. Another infod may keep the connection
  // open; the frame was sent all the same.
  link.finish_sending();
  auto deadline = after_ms(kReplyTimeoutMs);
  std::string_view body;
  while (link.next(body, &deadline) == Link::Got::kFrame) {
  }
  return kExitOk;
}

int run_get(const std::string& socket_path, const std::string& key) {
  Link link;
  if (!link.open(socket_path) || !link.send_frame(request_body(kInfodGet, "get", key))) return kExitLink;
  auto deadline = after_ms(kReplyTimeoutMs);
  std::string_view body;
  for (;;) {
    Link::Got got = link.next(body, &deadline);
    if (got == Link::Got::kTimeout) {
      fprintf(stderr, "devinfod: no reply for %s\n", key.c_str());
      return kExitLink;
    }
    if (got != Link::Got::kFrame) {
      fprintf(stderr, "devinfod: connection lost\n");
      return kExitLink;
    }
    Reply reply = parse_reply(body);
    if (reply.type != 5 || reply.key != key) continue;
    if (!reply.value) return kExitNothing;
    fwrite(reply.value->data(), 1, reply.value->size(), stdout);
    fputc('\n', stdout);
    return fflush(stdout) == 0 ? kExitOk : kExitLink;
  }
}

int run_watch(const std::string& socket_path, const WatchOptions& options) {
  Link link;
  if (!link.open(socket_path)) return kExitLink;
  for (const std::string& key : options.keys) {
    if (!link.send_frame(request_body(kInfodSubscribe, "watch", key))) return kExitLink;
  }
  auto timeout_ms = static_cast<long>(options.timeout_s * 1000.0);
  bool timed = options.timeout_s >= 0;
  Clock::time_point deadline = after_ms(timed ? timeout_ms : 0);
  long seen = 0;
  std::string_view body;
  for (;;) {
    Link::Got got = link.next(body, timed ? &deadline : nullptr);
    if (got == Link::Got::kTimeout) return kExitNothing;
    if (got != Link::Got::kFrame) {
      fprintf(stderr, "devinfod: connection lost\n");
      return kExitLink;
    }
    Reply update = parse_reply(body);
    if (update.type != 8) continue;
    std::string line = update.key + "=" + *update.value + "\n";
    fwrite(line.data(), 1, line.size(), stdout);
    if (fflush(stdout) != 0) return kExitLink;
    if (options.count > 0 && ++seen >= options.count) return kExitOk;
    if (timed) deadline = after_ms(timeout_ms);
  }
}

}  // namespace devinfod
