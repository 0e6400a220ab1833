// The infod link: framing both ways, the reader's states, the writer's
// order, and what a bad stream does to the daemon.
#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "core/link.h"
#include "support/test_daemon.h"

namespace {

std::string frame(const std::string& body) {
  const uint32_t length = htonl(static_cast<uint32_t>(body.size()));
  return std::string(reinterpret_cast<const char*>(&length), 4) + body;
}

std::string update(const std::string& key, const std::string& value) {
  return frame("8\x1e" + key + "\x1e" + "2\x1e" + "1700000000123\x1e" + value + "\r\n");
}

// A TestDaemon whose infod end is one side of a socket pair.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    d.ctx.infod_fd = fds[0];
    peer = fds[1];
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
  }
  void TearDown() override {
    close(d.ctx.infod_fd);
    close(peer);
  }
  void send_bytes(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(peer, bytes.data(), bytes.size()));
  }
  void readable(int times = 1) {
    for (int i = 0; i < times; ++i) link_on_readable(d.ctx.infod_fd, 0, &d.ctx);
  }
  std::string drain_peer() {
    std::string out;
    char buf[4096];
    fcntl(peer, F_SETFL, O_NONBLOCK);
    ssize_t n;
    while ((n = read(peer, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  void load_two_rules() {
    ConfigBuilder c;
    c.set("config.autoresponse.total", 2);
    for (int n = 1; n <= 2; ++n) {
      const std::string p = "config.autoresponse.autoresponse" + std::to_string(n);
      c.set(p + ".name", "rule" + std::to_string(n))
          .set(p + ".check_type", "environmental")
          .set(p + ".enviro.check_type", "temp")
          .set(p + ".enviro.dev_ref", "config.ports.port" + std::to_string(n) + ".enviro")
          .set(p + ".enviro.trigger_val", "30")
          .set(p + ".enviro.hysteresis", "1");
    }
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    d.take_sent();
  }
  // Both references Triggered already: every update then refreshes the
  // current value, which shows what each update did.
  void trigger_both() {
    for (size_t i = 0; i < 2; ++i) {
      d.check(i).state = kArTriggered;
      d.check(i).current_event = std::make_unique<CheckEvent>();
    }
  }
  std::string current(size_t i) { return d.check(i).current_event->value; }
  TestDaemon d;
  int peer = -1;
};

TEST(LinkFormat, SubscriptionToTheControlKeyIsByteExact) {
  const std::string text = link_format(2, "config.autoresponse.command", 0, nullptr);
  ASSERT_EQ(37u, text.size());
  EXPECT_EQ(std::string("\0\0\0\x21", 4), text.substr(0, 4));
  EXPECT_EQ("2\x1e" "ard\x1e" "config.autoresponse.command", text.substr(4));
}

TEST(LinkFormat, PushCarriesKeyNumberAndValue) {
  const std::string text = link_format(1, "a.b.status", 2, "Triggered");
  EXPECT_EQ("1\x1e" "a.b.status\x1e" "2\x1e" "Triggered", text.substr(4));
  EXPECT_EQ(text.size() - 4, ntohl(*reinterpret_cast<const uint32_t*>(text.data())));
}

TEST(LinkFields, SplitLikeStrtokWithTheValueKeepingRS) {
  struct Case {
    std::string body;
    int count;
    long type;
    const char* key;
    int32_t field3;
    uint64_t field4;
    const char* value;
  };
  const Case cases[] = {
      // Empty fields vanish; the value keeps RS and ends at CR or LF.
      {"8\x1e\x1ekey.a\x1e" "5\x1e" "77\x1e" "va\x1elue\r\nrest", 5, 8, "key.a", 5, 77, "va\x1elue"},
      // An empty third field moves the rest up; "value" is no number.
      {"8\x1ekey\x1e\x1e" "1700\x1evalue\n", 4, 8, "key", 1700, 0, nullptr},
      // CR and LF end the first four fields too; the value may be all RS.
      {"8\rkey\n1\r2\x1e\x1e\x1e", 5, 8, "key", 1, 2, "\x1e\x1e"},
      {"\x1e\r\n", 0, 0, nullptr, 0, 0, nullptr},
  };
  for (const Case& k : cases) {
    std::string body = k.body;
    UpdateFields f;
    ASSERT_EQ(k.count, link_split_fields(body.data(), &f)) << k.body;
    EXPECT_EQ(k.type, f.type);
    EXPECT_STREQ(k.key, f.key);
    EXPECT_EQ(k.field3, f.field3);
    EXPECT_EQ(k.field4, f.field4);
    EXPECT_STREQ(k.value, f.value);
  }
}

TEST_F(LinkTest, WriterSendsQueuedMessagesWholeAndInOrder) {
  link_subscribe(&d.ctx, "a.key");
  link_push(&d.ctx, kLogKey, "line one");
  link_push_status(&d.ctx, "x.refs.ref1", "Normal");
  link_on_writable(d.ctx.infod_fd, 0, &d.ctx);
  link_on_writable(d.ctx.infod_fd, 0, &d.ctx);  // finds the queue empty
  const auto sent = parse_messages(drain_peer());
  ASSERT_EQ(3u, sent.size());
  EXPECT_EQ(2, sent[0].type);
  EXPECT_EQ("a.key", sent[0].key);
  EXPECT_EQ(kLogKey, sent[1].key);
  EXPECT_EQ(0, sent[1].number);
  EXPECT_EQ("x.refs.ref1.status", sent[2].key);
  EXPECT_EQ(2, sent[2].number);
  EXPECT_TRUE(d.ctx.out_queue.empty());
}

TEST_F(LinkTest, APartialWriteKeepsTheRestForLater) {
  int size = 4096;
  ASSERT_EQ(0, setsockopt(d.ctx.infod_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size));
  const std::string big(200000, 'v');
  link_push(&d.ctx, kLogKey, big.c_str());
  link_push(&d.ctx, kLogKey, "after");
  std::string received;
  for (int i = 0; i < 10000 && !d.ctx.out_queue.empty(); ++i) {
    link_on_writable(d.ctx.infod_fd, 0, &d.ctx);
    received += drain_peer();
  }
  const auto sent = parse_messages(received);
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(big, sent[0].value);
  EXPECT_EQ("after", sent[1].value);
}

TEST_F(LinkTest, FlushFinishesAPartlyWrittenHead) {
  int size = 4096;
  ASSERT_EQ(0, setsockopt(d.ctx.infod_fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size));
  const std::string big(50000, 'w');
  link_push(&d.ctx, kLogKey, big.c_str());
  link_push(&d.ctx, kLogKey, "next");
  link_on_writable(d.ctx.infod_fd, 0, &d.ctx);
  ASSERT_GT(d.ctx.write_offset, 0u);
  std::string received = drain_peer();
  // The peer keeps reading while the flush waits for room.
  for (int i = 0; i < 100 && d.ctx.write_offset > 0; ++i) {
    const int r = link_flush_head(&d.ctx);
    received += drain_peer();
    if (r == 0) break;
  }
  EXPECT_EQ(0u, d.ctx.write_offset);
  ASSERT_EQ(1u, d.ctx.out_queue.size());
  const auto sent = parse_messages(received);
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(big, sent[0].value);
}

TEST_F(LinkTest, SplitHeaderAndBodyAssemble) {
  load_two_rules();
  trigger_both();
  const std::string msg = update("config.ports.port1.enviro.temp", "31");
  send_bytes(msg.substr(0, 1));
  readable();
  send_bytes(msg.substr(1, 3));
  readable();
  send_bytes(msg.substr(4, 5));
  readable();
  EXPECT_EQ("", current(0));
  send_bytes(msg.substr(9));
  readable();
  EXPECT_EQ("31", current(0));
  EXPECT_EQ("", current(1));
  EXPECT_EQ(-1, d.ctx.exit_status);
}

TEST_F(LinkTest, TwoMessagesInOneWriteAreHandledOneAfterTheOther) {
  load_two_rules();
  trigger_both();
  send_bytes(update("config.ports.port1.enviro.temp", "31") + update("config.ports.port2.enviro.temp", "35"));
  // One read per callback and never past the current message: header,
  // body, header, body.
  readable(2);
  EXPECT_EQ("31", current(0));
  EXPECT_EQ("", current(1));
  readable(2);
  EXPECT_EQ("35", current(1));
}

TEST_F(LinkTest, OtherTypesEmptyMessagesAndUnknownKeysAreIgnored) {
  load_two_rules();
  trigger_both();
  send_bytes(frame("5\x1esome.key\x1evalue") + frame("") + update("nobody.wants.this", "1") +
             frame("8\x1eonly.a.key\r\n") + update("config.ports.port1.enviro.temp", "31"));
  readable(12);
  EXPECT_EQ(-1, d.ctx.exit_status);
  EXPECT_TRUE(d.logged("Invalid message from infod"));
  EXPECT_EQ("31", current(0));
}

TEST_F(LinkTest, EndOfStreamEndsTheDaemonWithStatusOne) {
  close(peer);
  peer = -1;
  readable();
  EXPECT_EQ(1, d.ctx.exit_status);
  EXPECT_TRUE(d.logged("Error reading message from infod end of stream"));
}

TEST_F(LinkTest, EndOfStreamInsideABodyEndsTheDaemon) {
  send_bytes(frame("8\x1ekey\x1e").substr(0, 7));
  close(peer);
  peer = -1;
  readable(3);
  EXPECT_EQ(1, d.ctx.exit_status);
  EXPECT_TRUE(d.logged("Error reading message from infod"));
}

TEST_F(LinkTest, AnOversizedHeaderIsAProtocolError) {
  const uint32_t length = htonl(kMaxInfodMessage + 1);
  send_bytes(std::string(reinterpret_cast<const char*>(&length), 4));
  readable();
  EXPECT_EQ(1, d.ctx.exit_status);
  EXPECT_TRUE(d.logged("Message too long from infod: 1048577"));
}

TEST_F(LinkTest, NothingToReadYetIsNotAnError) {
  readable();
  EXPECT_EQ(-1, d.ctx.exit_status);
}

}  // namespace
