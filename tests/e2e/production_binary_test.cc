// The production binary itself, with its fixed paths: run in a private
// mount namespace whose /var/run and /dev are the test's own, so it finds
// the test's infod socket and logs to the test's syslog socket.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "support/e2e.h"
#include "support/rules.h"

namespace {

using namespace e2e;

// A datagram socket standing in for the system logger's.
class SyslogSocket {
 public:
  explicit SyslogSocket(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    chmod(path.c_str(), 0666);
  }
  ~SyslogSocket() { close(fd_); }
  // Every datagram that arrives within timeout_ms, joined by newlines.
  std::string receive(int timeout_ms) {
    std::string out;
    char buf[2048];
    pollfd p{fd_, POLLIN, 0};
    while (poll(&p, 1, timeout_ms) > 0) {
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
      out += '\n';
      timeout_ms = 200;
    }
    return out;
  }

 private:
  int fd_ = -1;
};

class ProductionBinary : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0 || system("unshare -m --propagation private true 2>/dev/null") != 0) {
      GTEST_SKIP() << "needs root and mount namespaces";
    }
    mkdir((dir.path() + "/dev").c_str(), 0755);
    mkdir((dir.path() + "/run").c_str(), 0755);
    syslog = std::make_unique<SyslogSocket>(dir.path() + "/dev/log");
  }
  pid_t start(const std::map<std::string, std::string>& env = {}) {
    const std::string script = "mount --bind '" + dir.path() + "/dev' /dev && mount --bind '" + dir.path() +
                               "/run' /var/run && exec '" + build_dir() + "/autoresponsed'";
    return spawn("/usr/bin/unshare", {"-m", "--propagation", "private", "sh", "-c", script}, -1,
                 dir.path() + "/stderr", env);
  }
  TempDir dir;
  std::unique_ptr<SyslogSocket> syslog;
};

TEST_F(ProductionBinary, WithoutInfodItLogsToSyslogWaitsAndExits255) {
  const auto started = SteadyClock::now();
  const pid_t pid = start();
  ASSERT_GT(pid, 0);
  const std::string logged = syslog->receive(3000);
  EXPECT_NE(std::string::npos, logged.find("Could not open socket")) << logged;
  EXPECT_EQ(255, wait_status_for(pid, 15000));
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count(), 4900);
}

TEST_F(ProductionBinary, ConnectsToTheFixedSocketAndSubscribes) {
  DevInfod infod(dir.path() + "/run/infod-sock", dir.path() + "/frames.log", dir.path() + "/infod.err");
  ASSERT_TRUE(infod.start());
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1, "rack");
  write_file(dir.path() + "/config.xml", c.xml());
  // The configuration file is the one thing the platform library lets a
  // development machine point elsewhere.
  const pid_t pid = start({{"XMLDB_PATH", dir.path() + "/config.xml"}});
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(infod.logged("<- sub ard config.autoresponse.command"));
  EXPECT_TRUE(infod.logged("<- sub ard " + enviro_key(1)));
  EXPECT_TRUE(infod.logged("<- push config.autoresponse.autoresponse1.refs.ref1.status 2 Normal"));
  EXPECT_NE(std::string::npos, syslog->receive(2000).find("Adding subscription: " + enviro_key(1)));
  infod.stop();
  EXPECT_EQ(1, wait_status_for(pid, 10000));
}

}  // namespace
