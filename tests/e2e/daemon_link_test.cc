// The real daemon binaries against a private infod: start-up, the first
// bytes on the wire, a stream that arrives in odd pieces, the boot delay,
// and how the daemon ends.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/e2e.h"
#include "support/rules.h"

namespace {

using namespace e2e;

// A bare infod stand-in: a listening socket whose one client the test
// reads and writes byte by byte.
class RawServer {
 public:
  explicit RawServer(const std::string& path) {
    listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listen_fd_, 4);
  }
  ~RawServer() {
    if (client_ >= 0) close(client_);
    close(listen_fd_);
  }
  bool accept_client(int timeout_ms = 10000) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return false;
    client_ = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return client_ >= 0;
  }
  // Up to len bytes within timeout_ms.
  std::string read_bytes(size_t len, int timeout_ms) {
    std::string out;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    char buf[4096];
    while (out.size() < len) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
      pollfd p{client_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
      const ssize_t n = read(client_, buf, std::min(sizeof buf, len - out.size()));
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // The messages that arrive within timeout_ms, parsed.
  std::vector<SentMessage> read_messages(int timeout_ms) {
    return parse_messages(read_bytes(1 << 20, timeout_ms));
  }
  // Complete messages that arrive within timeout_ms; a partial one stays
  // for the next call. Gets are answered at once ("no value").
  std::vector<SentMessage> pump(int timeout_ms) {
    std::vector<SentMessage> out;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
    while (SteadyClock::now() < deadline) {
      buffer_ += read_bytes(1 << 16, 50);
      size_t used = 0;
      while (buffer_.size() - used >= 4) {
        const size_t len = (static_cast<size_t>(static_cast<unsigned char>(buffer_[used])) << 24) |
                           (static_cast<size_t>(static_cast<unsigned char>(buffer_[used + 1])) << 16) |
                           (static_cast<size_t>(static_cast<unsigned char>(buffer_[used + 2])) << 8) |
                           static_cast<size_t>(static_cast<unsigned char>(buffer_[used + 3]));
        if (buffer_.size() - used < 4 + len) break;
        for (const SentMessage& m : parse_messages(buffer_.substr(used, 4 + len))) {
          if (m.type == 4) write_bytes(frame(std::string("5") + kRS + m.key));
          out.push_back(m);
        }
        used += 4 + len;
      }
      buffer_.erase(0, used);
    }
    return out;
  }
  void write_bytes(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
  }
  void close_client() {
    close(client_);
    client_ = -1;
  }

 private:
  int listen_fd_ = -1;
  int client_ = -1;
  std::string buffer_;
};

std::string update(const std::string& key, const std::string& value) {
  return frame(std::string("8") + kRS + key + kRS + "0" + kRS + "1700000000000" + kRS + value + "\r\n");
}

const std::string kControlSubscription = std::string("\0\0\0\x21", 4) + "2\x1e" "ard\x1e" "config.autoresponse.command";

TEST(DaemonLink, FirstBytesAreTheControlSubscriptionAndNothingElseWithoutRules) {
  Sandbox box;
  box.write_config(ConfigBuilder().set("config.autoresponse.total", 0));
  RawServer infod(box.path("/var/run/infod-sock"));
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(infod.accept_client());
  EXPECT_EQ(kControlSubscription, infod.read_bytes(37, 5000));
  EXPECT_EQ("", infod.read_bytes(1, 1000));
  infod.close_client();
  EXPECT_EQ(1, box.daemon_exit(10000));
  EXPECT_TRUE(box.daemon_logged("Error reading message from infod"));
}

TEST(DaemonLink, OddlySplitStreamsAreAssembled) {
  Sandbox box;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1, "rack");
  c.set(rule_path(1) + ".enviro.dev_refs.total", 2);
  box.write_config(c);
  RawServer infod(box.path("/var/run/infod-sock"));
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(infod.accept_client());
  // Start-up: control key, then per reference its subscription, Normal and
  // its log line.
  auto start = infod.pump(1500);
  ASSERT_EQ(7u, start.size());
  EXPECT_EQ(enviro_key(1), start[1].key);
  EXPECT_EQ("Normal", start[2].value);
  EXPECT_EQ("AR: name=rack, index=1, ref=2, state=Normal", start[6].value);

  // Another type, then a header split 1 + 3 with the body in two pieces.
  const std::string first = update(enviro_key(1), "31");
  infod.write_bytes(frame(std::string("5") + kRS + "x" + kRS + "y"));
  for (const auto& piece : {first.substr(0, 1), first.substr(1, 3), first.substr(4, 10), first.substr(14)}) {
    infod.write_bytes(piece);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  auto sent = infod.pump(1500);
  EXPECT_EQ(std::vector<std::string>{"Triggered"},
            TestDaemon::values_of(sent, "config.autoresponse.autoresponse1.refs.ref1.status"));
  EXPECT_EQ(std::vector<std::string>{"Triggered"},
            TestDaemon::values_of(sent, "config.autoresponse.autoresponse1.refs.ref2.status"));
  // Each trigger counts itself in infod: a get, then the new count.
  EXPECT_EQ((std::vector<std::string>{"1", "1"}),
            TestDaemon::values_of(sent, "config.ports.port1.enviro.count.temp"));

  // Two messages in one write.
  infod.write_bytes(update(enviro_key(1), "28") + update(enviro_key(1), "27"));
  sent = infod.pump(1500);
  EXPECT_EQ((std::vector<std::string>{"Resolving", "Normal"}),
            TestDaemon::values_of(sent, "config.autoresponse.autoresponse1.refs.ref1.status"));
  EXPECT_EQ((std::vector<std::string>{"Resolving", "Normal"}),
            TestDaemon::values_of(sent, "config.autoresponse.autoresponse1.refs.ref2.status"));
  EXPECT_TRUE(box.daemon_running());
  infod.close_client();
  EXPECT_EQ(1, box.daemon_exit(10000));
}

TEST(DaemonLink, BootDelayHoldsAllTrafficForOnePoll) {
  Sandbox box;
  box.write_config(ConfigBuilder().set("config.autoresponse.boot_delay", 105));
  box.write_uptime("100.50 180.20\n");
  RawServer infod(box.path("/var/run/infod-sock"));
  const auto started = SteadyClock::now();
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(infod.accept_client());
  EXPECT_EQ("", infod.read_bytes(1, 3000));
  box.write_uptime("105.01 180.20\n");
  EXPECT_EQ(kControlSubscription, infod.read_bytes(37, 12000));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count();
  EXPECT_GE(waited, 9500);
  infod.close_client();
  EXPECT_EQ(1, box.daemon_exit(10000));
}

TEST(DaemonLink, AbsurdHeaderEndsTheDaemonWithoutAllocatingIt) {
  Sandbox box;
  box.write_config(ConfigBuilder());
  RawServer infod(box.path("/var/run/infod-sock"));
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(infod.accept_client());
  infod.read_bytes(37, 5000);
  infod.write_bytes(std::string("\x7f\xff\xff\xff", 4));
  EXPECT_EQ(1, box.daemon_exit(10000));
  EXPECT_TRUE(box.daemon_logged("Message too long from infod: 2147483647"));
}

TEST(DaemonLink, NoInfodMeansOneLineAPauseAndStatus255) {
  Sandbox box;
  const auto started = SteadyClock::now();
  ASSERT_TRUE(box.start_daemon());
  EXPECT_EQ(255, box.daemon_exit(15000));
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count();
  EXPECT_GE(waited, 4900);
  EXPECT_TRUE(box.daemon_logged("Could not open socket"));
}

}  // namespace
