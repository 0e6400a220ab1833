// End-to-end tests of the development infod: a private server on a
// temporary socket, driven through its client commands and through raw
// sockets that check the bytes on the wire.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/infod_client.h"
#include "support/e2e.h"


namespace {

const std::string RS = "\x1e";
const std::string kBinary = AR_BUILD_DIR "/devinfod";

using Clock = std::chrono::steady_clock;
using e2e::connect_to;
using e2e::frame;
using e2e::Raw;
using e2e::read_file;
using e2e::Result;
using e2e::TempDir;
using e2e::wait_status;

pid_t spawn(const std::vector<std::string>& args, int out_fd, const std::string& err_path) {
  return e2e::spawn(kBinary, args, out_fd, err_path);
}

Result run(const std::vector<std::string>& args, const std::string& err_path) {
  return e2e::run(kBinary, args, err_path);
}

class Devinfod : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    sock_ = dir_.path() + "/infod-sock";
    log_ = dir_.path() + "/frames.log";
    err_ = dir_.path() + "/stderr";
    start();
  }
  void TearDown() override {
    if (server_ > 0) {
      EXPECT_EQ(stop(), 0);
    }
    // Sanitizer reports of the server and the commands land here.
    std::string err = read_file(err_);
    EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
  }

  void start() {
    server_ = spawn({"serve", "--socket", sock_, "--log", log_}, -1, err_);
    ASSERT_GT(server_, 0);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      int fd = connect_to(sock_);
      if (fd >= 0) {
        close(fd);
        break;
      }
      ASSERT_LT(Clock::now(), deadline) << "server did not come up";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Stops the server with SIGTERM and returns its exit status.
  int stop() {
    if (server_ <= 0) return -1;
    kill(server_, SIGTERM);
    int status = wait_status(server_);
    server_ = -1;
    return status;
  }

  Result cmd(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--socket", sock_});
    return run(args, err_);
  }

  // Waits until the frame log holds line, which means the server has
  // handled that frame.
  bool logged(const std::string& line) const {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      if (("\n" + read_file(log_)).find("\n" + line + "\n") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // A raw client subscribed to keys, with the subscriptions in force.
  std::unique_ptr<Raw> subscriber(const std::vector<std::string>& keys, const std::string& name = "raw") {
    auto raw = std::make_unique<Raw>(sock_);
    for (const auto& k : keys) {
      EXPECT_TRUE(raw->write_all(frame("2" + RS + name + RS + k)));
    }
    // A get on the same connection is answered after the subscriptions.
    raw->bodies_until_reply("sync");
    return raw;
  }

  TempDir dir_;
  std::string sock_, log_, err_;
  pid_t server_ = -1;
};

TEST_F(Devinfod, PushAndGet) {
  Result absent = cmd({"get", "config.nothing"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_EQ(absent.out, "");

  EXPECT_EQ(cmd({"push", "a.count.temp", "41"}).status, 0);
  Result got = cmd({"get", "a.count.temp"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out, "41\n");

  // Overwrite, a value with RS, and an empty value that is still a value.
  EXPECT_EQ(cmd({"push", "a.count.temp", "x" + RS + "y", "--number", "2"}).status, 0);
  EXPECT_EQ(cmd({"get", "a.count.temp"}).out, "x" + RS + "y\n");
  EXPECT_EQ(cmd({"push", "empty", ""}).status, 0);
  Result empty = cmd({"get", "empty"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "\n");

  // A raw get sees the bare reply for an absent key.
  Raw raw(sock_);
  ASSERT_TRUE(raw.write_all(frame("4" + RS + "ard" + RS + "config.nothing")));
  EXPECT_EQ(raw.read_body(), "5" + RS + "config.nothing");
  ASSERT_TRUE(raw.write_all(frame("4" + RS + "ard" + RS + "empty")));
  EXPECT_EQ(raw.read_body(), "5" + RS + "empty" + RS);
}

TEST_F(Devinfod, UpdateFramingIsByteExact) {
  auto sub = subscriber({"a.b"});
  auto before = std::chrono::system_clock::now();
  ASSERT_EQ(cmd({"push", "a.b.c", "v" + RS + "w", "--number", "2"}).status, 0);
  auto after = std::chrono::system_clock::now();

  std::string head = sub->read_bytes(4);
  ASSERT_EQ(head.size(), 4u);
  size_t len = 0;
  for (char c : head) len = (len << 8) | static_cast<unsigned char>(c);
  std::string body = sub->read_bytes(len);
  ASSERT_EQ(body.size(), len);
  std::string start = "8" + RS + "a.b.c" + RS + "2" + RS;
  ASSERT_EQ(body.compare(0, start.size(), start), 0) << body;
  std::string rest = body.substr(start.size());
  size_t rs = rest.find(RS);
  ASSERT_NE(rs, std::string::npos);
  EXPECT_EQ(rest.substr(rs), RS + "v" + RS + "w\r\n");
  std::string ms = rest.substr(0, rs);
  ASSERT_EQ(ms.find_first_not_of("0123456789"), std::string::npos) << ms;
  auto to_ms = [](auto t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  };
  long long t = std::stoll(ms);
  EXPECT_GE(t, to_ms(before));
  EXPECT_LE(t, to_ms(after));
}

TEST_F(Devinfod, SubscriptionsMatchKeyAndDottedChildren) {
  auto sub = subscriber({"a.b"});
  for (const char* key : {"a.b", "a.bc", "a.b.c", "a", "x.a.b", "a.b.c.d", "a.b."}) {
    ASSERT_EQ(cmd({"push", key, "1"}).status, 0);
  }
  std::vector<std::string> keys;
  for (const auto& body : sub->bodies_until_reply("sync")) keys.push_back(body.substr(2, body.find(RS, 2) - 2));
  EXPECT_EQ(keys, (std::vector<std::string>{"a.b", "a.b.c", "a.b.c.d", "a.b."}));
}

TEST_F(Devinfod, SeveralClients) {
  auto one = subscriber({"a", "a.b"}, "one");
  auto two = subscriber({"a.b.c"}, "two");
  ASSERT_EQ(cmd({"push", "a.b.c", "x"}).status, 0);
  ASSERT_EQ(cmd({"push", "a.z", "y"}).status, 0);
  // Overlapping subscriptions on one connection give one update.
  auto got_one = one->bodies_until_reply("sync");
  auto got_two = two->bodies_until_reply("sync");
  ASSERT_EQ(got_one.size(), 2u);
  EXPECT_NE(got_one[0].find(RS + "x\r\n"), std::string::npos);
  EXPECT_NE(got_one[1].find(RS + "y\r\n"), std::string::npos);
  ASSERT_EQ(got_two.size(), 1u);
  EXPECT_NE(got_two[0].find("a.b.c"), std::string::npos);

  // Unsubscribing one key leaves the other in force.
  ASSERT_TRUE(one->write_all(frame("3" + RS + "one" + RS + "a")));
  ASSERT_EQ(cmd({"push", "a.z", "gone"}).status, 0);
  ASSERT_EQ(cmd({"push", "a.b.q", "kept"}).status, 0);
  got_one = one->bodies_until_reply("sync");
  ASSERT_EQ(got_one.size(), 1u);
  EXPECT_NE(got_one[0].find("kept"), std::string::npos);

  // A closed subscriber is forgotten; the others go on.
  one.reset();
  ASSERT_EQ(cmd({"push", "a.b.c", "z"}).status, 0);
  EXPECT_EQ(two->bodies_until_reply("sync").size(), 1u);
}

TEST_F(Devinfod, FramesSplitAcrossWrites) {
  Raw raw(sock_);
  std::string bytes = frame("1" + RS + "split.key" + RS + "0" + RS + "pieces") + frame("4" + RS + "raw" + RS + "split.key");
  size_t cuts[] = {1, 4, 7, 20, bytes.size() - 3, bytes.size()};
  size_t at = 0;
  for (size_t cut : cuts) {
    ASSERT_TRUE(raw.write_all(bytes.substr(at, cut - at)));
    at = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(raw.read_body(), "5" + RS + "split.key" + RS + "pieces");
}

TEST_F(Devinfod, OversizeFrameClosesOnlyThatConnection) {
  auto sub = subscriber({"big"});
  // A body of exactly 1 MiB is accepted.
  std::string prefix = "1" + RS + "big" + RS + "0" + RS;
  std::string value(1024 * 1024 - prefix.size(), 'v');
  Raw pusher(sock_);
  ASSERT_TRUE(pusher.write_all(frame(prefix + value)));
  std::string update = sub->read_body();
  ASSERT_GT(update.size(), 1024u * 1024u);
  std::string start = "8" + RS + "big" + RS + "0" + RS;
  EXPECT_EQ(update.compare(0, start.size(), start), 0);
  EXPECT_EQ(update.substr(update.size() - 3), "v\r\n");

  // One byte more closes the sender, and only the sender.
  Raw bad(sock_);
  ASSERT_TRUE(bad.write_all(std::string("\x00\x10\x00\x01", 4) + "1" + RS));
  EXPECT_TRUE(bad.closed_by_peer());
  ASSERT_EQ(cmd({"push", "big", "small"}).status, 0);
  std::string small = sub->read_body();
  ASSERT_GT(small.size(), 8u);
  EXPECT_EQ(small.substr(small.size() - 8), RS + "small\r\n");
  EXPECT_TRUE(pusher.write_all(frame("4" + RS + "raw" + RS + "big")));
  EXPECT_EQ(pusher.read_body(), "5" + RS + "big" + RS + "small");
}

TEST_F(Devinfod, ClientThatStopsReadingDoesNotHoldUpOthers) {
  auto stuck = subscriber({"flood"});
  auto reader = subscriber({"flood"});
  std::atomic<bool> done{false};
  std::atomic<size_t> read_total{0};
  std::thread drain([&] {
    // Keeps reading; the stuck client never does.
    while (!done) read_total += reader->read_bytes(1 << 20, 50).size();
  });
  Raw pusher(sock_);
  std::string push = frame("1" + RS + "flood" + RS + "0" + RS + std::string(900 * 1000, 'f'));
  bool sent = true;
  for (int i = 0; i < 24 && sent; i++) sent = pusher.write_all(push);
  std::vector<std::string> answer = sent ? pusher.bodies_until_reply("flood.done") : std::vector<std::string>{};
  Result other_push = cmd({"push", "other", "fine"});
  Result other_get = cmd({"get", "other"});
  done = true;
  drain.join();
  EXPECT_TRUE(sent);
  EXPECT_TRUE(answer.empty());
  EXPECT_EQ(other_push.status, 0);
  EXPECT_EQ(other_get.out, "fine\n");
  EXPECT_GT(read_total.load(), 900u * 1000u);
  // Over 16 MiB waiting for the stuck client: it has been dropped.
  EXPECT_TRUE(stuck->closed_by_peer());
  EXPECT_NE(read_file(err_).find("is not reading; closed"), std::string::npos);
}

TEST_F(Devinfod, FrameLog) {
  Raw raw(sock_);
  ASSERT_TRUE(raw.write_all(frame("2" + RS + "ard" + RS + "config.autoresponse.command")));
  ASSERT_TRUE(raw.write_all(frame("1" + RS + "config.autoresponse.log" + RS + "0" + RS + "AR: name=x|y" + RS + "z")));
  ASSERT_TRUE(raw.write_all(frame("3" + RS + "ard" + RS + "k")));
  ASSERT_TRUE(raw.write_all(frame("9" + RS + "what\r\n")));
  ASSERT_TRUE(raw.write_all(frame("1" + RS + "k" + RS + "zero" + RS + "v")));
  ASSERT_TRUE(raw.write_all(frame("2" + RS + "ard")));
  ASSERT_TRUE(raw.write_all(frame("4" + RS + "ard" + RS + "k")));
  EXPECT_EQ(raw.read_body(), "5" + RS + "k");  // the bad push stored nothing
  EXPECT_EQ(read_file(log_),
            "<- sub ard config.autoresponse.command\n"
            "<- push config.autoresponse.log 0 AR: name=x|y|z\n"
            "<- unsub ard k\n"
            "<- unknown 9|what\\r\\n\n"
            "<- bad 1|k|zero|v\n"
            "<- bad 2|ard\n"
            "<- get ard k\n");
}

TEST_F(Devinfod, Watch) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  pid_t watch = spawn({"watch", "--socket", sock_, "--count", "2", "a.b", "c"}, p[1], err_);
  close(p[1]);
  ASSERT_TRUE(logged("<- sub watch c"));
  ASSERT_EQ(cmd({"push", "a.bc", "no"}).status, 0);
  ASSERT_EQ(cmd({"push", "a.b.x", "one" + RS + "two"}).status, 0);
  ASSERT_EQ(cmd({"push", "c", "three"}).status, 0);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(p[0]);
  EXPECT_EQ(wait_status(watch), 0);
  EXPECT_EQ(out, "a.b.x=one" + RS + "two\nc=three\n");

  // Nothing arriving in time: status 1.
  auto start = Clock::now();
  Result quiet = cmd({"watch", "nothing.here", "--timeout", "0.3"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, "");
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));

  // The server going away ends a watch with status 3.
  watch = spawn({"watch", "--socket", sock_, "k"}, -1, err_);
  ASSERT_TRUE(logged("<- sub watch k"));
  EXPECT_EQ(stop(), 0);
  EXPECT_EQ(wait_status(watch), 3);
}

TEST_F(Devinfod, BadArguments) {
  EXPECT_EQ(run({}, err_).status, 2);
  EXPECT_EQ(run({"get", "k"}, err_).status, 2);  // no --socket
  EXPECT_EQ(cmd({"frobnicate"}).status, 2);
  EXPECT_EQ(cmd({"get", "a", "b"}).status, 2);
  EXPECT_EQ(cmd({"push", "k", "v", "--number", "2147483648"}).status, 2);
  EXPECT_EQ(cmd({"push", "k", "v", "--colour", "red"}).status, 2);
  EXPECT_EQ(cmd({"watch", "k", "--count", "0"}).status, 2);
  EXPECT_EQ(cmd({"watch", "k", "--timeout", "soon"}).status, 2);
  EXPECT_NE(read_file(err_).find("usage: devinfod"), std::string::npos);
  // A value that looks like an option goes after "--".
  EXPECT_EQ(cmd({"push", "k", "--", "--v"}).status, 0);
  EXPECT_EQ(cmd({"get", "k"}).out, "--v\n");
}

TEST_F(Devinfod, ServerLifecycle) {
  // Another server on a live socket refuses to start and leaves it alone.
  EXPECT_EQ(run({"serve", "--socket", sock_}, err_).status, 1);
  EXPECT_EQ(cmd({"push", "still", "here"}).status, 0);
  EXPECT_EQ(cmd({"get", "still"}).out, "here\n");

  // SIGTERM: status 0 and the socket file is gone.
  EXPECT_EQ(stop(), 0);
  struct stat st {};
  EXPECT_NE(lstat(sock_.c_str(), &st), 0);
  EXPECT_EQ(cmd({"get", "still"}).status, 3);

  // A stale socket file is replaced.
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, sock_.c_str(), sock_.size() + 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  close(fd);
  start();
  EXPECT_EQ(cmd({"push", "fresh", "1"}).status, 0);
  EXPECT_EQ(stop(), 0);

  // A file of another kind is never removed.
  std::ofstream(sock_) << "keep me";
  EXPECT_EQ(run({"serve", "--socket", sock_}, err_).status, 1);
  EXPECT_EQ(read_file(sock_), "keep me");
}

// The platform library's calls and the development infod speak the same
// bytes: an update that arrives before the reply is kept for the daemon.
TEST_F(Devinfod, LibraryClientInterop) {
  int fd = connect_to(sock_);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
  std::string sub = frame("2" + RS + "ard" + RS + "x.enviro");
  ASSERT_EQ(write(fd, sub.data(), sub.size()), static_cast<ssize_t>(sub.size()));
  ASSERT_TRUE(logged("<- sub ard x.enviro"));

  char* value = nullptr;
  ASSERT_EQ(infod_get_multiple(fd, "x.enviro.count.temp", &value), 0);
  EXPECT_EQ(value, nullptr);
  ASSERT_EQ(infod_push_multiple_text(fd, "x.enviro.count.temp", 0, "1"), 0);
  ASSERT_EQ(infod_get_multiple(fd, "x.enviro.count.temp", &value), 0);
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "1");
  free(value);

  // The push's own update came back first and was kept whole.
  std::string kept(infod_kept_bytes(fd), '\0');
  ASSERT_EQ(infod_kept_read(fd, &kept[0], kept.size()), kept.size());
  ASSERT_GT(kept.size(), 4u);
  std::string body = kept.substr(4);
  EXPECT_EQ(kept.size(), 4 + body.size());
  std::string start = "8" + RS + "x.enviro.count.temp" + RS + "0" + RS;
  EXPECT_EQ(body.compare(0, start.size(), start), 0) << body;
  EXPECT_EQ(body.substr(body.size() - 4), RS + "1\r\n");
  infod_kept_forget(fd);
  close(fd);
}

}  // namespace
