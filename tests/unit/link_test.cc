// The infod link: framing both ways, the reader's states, the writer's order, and what a bad stream does.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/link.h"
#include "platform/infod_client.h"
#include "support/e2e.h"
#include "support/rules.h"

namespace {

using e2e::frame;

std::string update(int port, const std::string& value) {
  return frame("8\x1e" + enviro_key(port) + "\x1e" + "2\x1e" + "1700000000123\x1e" + value + "\r\n");
}

TEST(LinkFields, SplitLikeStrtokWithTheValueKeepingRS) {
  auto split = [](std::string body) {  // "count|type|key|number|time_ms|value", "-" for no text
    UpdateFields f;
    const int n = link_split_fields(body.data(), &f);
    return std::to_string(n) + "|" + std::to_string(f.type) + "|" + (f.key ? f.key : "-") + "|" +
           std::to_string(f.number) + "|" + std::to_string(f.time_ms) + "|" + (f.value ? f.value : "-");
  };
  // Empty fields vanish; CR or LF ends a field too; the value keeps RS; "value" is no number.
  EXPECT_EQ("5|8|key.a|5|77|va\x1elue", split("8\x1e\x1ekey.a\x1e" "5\x1e" "77\x1e" "va\x1elue\r\nrest"));
  EXPECT_EQ("4|8|key|1700|0|-", split("8\x1ekey\x1e\x1e" "1700\x1evalue\n"));
  EXPECT_EQ("5|8|key|1|2|\x1e\x1e", split("8\rkey\n1\r2\x1e\x1e\x1e"));
  EXPECT_EQ("0|0|-|0|0|-", split("\x1e\r\n"));
}

// Two rules (ports 1 and 2), infod at the other end of a socket pair. Both are Triggered already: an
// update then only refreshes the current value, which shows what each update did.
struct Link {
  Link() {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds));
    d.ctx.link.fd = fds[0], peer = fds[1];
    EXPECT_EQ(0, d.load(enviro_rules(2)));
    for (size_t i = 0; i < 2; ++i) {
      d.check(i).state = kArTriggered;
      d.check(i).current_event = std::make_unique<CheckEvent>();
    }
  }
  ~Link() { infod_kept_forget(d.ctx.link.fd); close(d.ctx.link.fd); close(peer); }
  void send(const std::string& bytes, int reads = 1) {
    ASSERT_TRUE(bytes.empty() || write(peer, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
    for (int i = 0; i < reads; ++i) link_on_readable(d.ctx.link.fd, 0, &d.ctx.link);
  }
  std::string received() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  void send_buffer(int size) { ASSERT_EQ(0, setsockopt(d.ctx.link.fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size)); }
  std::string current(size_t n) { return d.check(n).current_event->value; }
  TestDaemon d;
  int peer = -1;
};

TEST(LinkWriter, SendsEveryMessageWholeAndInOrderAndAFlushFinishesOnlyThePartlyWrittenHead) {
  Link l;
  l.send_buffer(4096);
  const std::string big(200000, 'v');
  link_push(&l.d.ctx.link, kLogKey, big.c_str());
  link_push_status(&l.d.ctx.link, "x.refs.ref1", "Normal");
  link_push(&l.d.ctx.link, kLogKey, big.c_str());
  link_push(&l.d.ctx.link, kLogKey, "next");
  // Partial writes until the second big message is at the head, begun.
  std::string bytes;
  for (int i = 0; i < 10000 && (l.d.ctx.link.out_queue.size() > 2 || l.d.ctx.link.write_offset == 0); ++i) {
    link_on_writable(l.d.ctx.link.fd, 0, &l.d.ctx.link);
    bytes += l.received();
  }
  ASSERT_EQ(2u, l.d.ctx.link.out_queue.size());
  l.send_buffer(1 << 20);  // room for the rest
  EXPECT_EQ(0, link_flush_head(&l.d.ctx.link));
  EXPECT_EQ(1u, l.d.ctx.link.out_queue.size());
  const std::string log = frame("1\x1e" "config.autoresponse.log\x1e" "0\x1e" + big);
  EXPECT_EQ(log + frame("1\x1e" "x.refs.ref1.status\x1e" "2\x1e" "Normal") + log,
            bytes + l.received());
}

TEST(LinkReader, SplitReadsAssembleOneAtATimeAndUpdatesAGetReadOnTheWayComeFirstInOrder) {
  Link l;
  const std::string msg = update(1, "31");
  l.send("");  // nothing to read yet is no error
  for (const std::string& piece : {msg.substr(0, 1), msg.substr(1, 3), msg.substr(4, 5)}) l.send(piece);
  EXPECT_EQ("", l.current(0));
  l.send(msg.substr(9));
  EXPECT_EQ("31", l.current(0));
  // Two messages in one write: header, body, header, body.
  l.send(update(1, "32") + update(2, "35"), 2);
  EXPECT_EQ("32", l.current(0));
  EXPECT_EQ("", l.current(1));
  l.send("", 2);
  EXPECT_EQ("35", l.current(1));
  // Updates a synchronous get read on the way are handed over first, in order, in one callback.
  l.send(update(1, "36") + update(2, "37") + frame("5\x1e" "k\x1e" "9"), 0);
  char* value = nullptr;
  ASSERT_EQ(0, infod_get_multiple(l.d.ctx.link.fd, "k", &value));
  EXPECT_STREQ("9", value);
  free(value);
  l.send("");
  EXPECT_EQ("36", l.current(0));
  EXPECT_EQ("37", l.current(1));
  EXPECT_EQ(-1, l.d.ctx.exit_status);
}

TEST(LinkReader, OtherTypesEmptyMessagesAndUnknownKeysAreIgnored) {
  Link l;
  l.send(frame("5\x1esome.key\x1evalue") + frame("") + update(3, "31") + frame("8\x1eonly.a.key\r\n") +
         update(1, "31"), 9);
  EXPECT_EQ(-1, l.d.ctx.exit_status);
  EXPECT_TRUE(l.d.logged("Invalid message from infod"));
  EXPECT_EQ("31", l.current(0));
}

TEST(LinkReader, ABadStreamEndsTheDaemonWithStatusOne) {
  const struct { std::string bytes; bool close; int status; const char* log; } rows[] = {
      {"", true, 1, "Error reading message from infod end of stream"},
      {frame("8\x1ekey\x1e").substr(0, 7), true, 1, "Error reading message from infod"},
      {std::string("\0\x10\0\x01", 4), false, 1, "Message too long from infod: 1048577"},
      {std::string("\0\x10\0\0", 4), false, -1, ""},  // 1 MiB itself is allowed
  };
  for (const auto& r : rows) {
    Link l;
    l.send(r.bytes, 0);
    if (r.close) shutdown(l.peer, SHUT_WR);
    l.send("", 3);
    EXPECT_EQ(r.status, l.d.ctx.exit_status) << r.log;
    EXPECT_TRUE(l.d.logged(r.log)) << r.log;
  }
}

}  // namespace
