// The infod link on its own: framing both ways, the reader's states handing each whole body to its handler,
// the writer's order, a flush of the partly written head, and what a bad stream does.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/link.h"
#include "core/log.h"
#include "platform/infod_client.h"
#include "support/e2e.h"

namespace {

using e2e::frame;
using Strings = std::vector<std::string>;

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

// A link to infod at the other end of a socket pair, driven by hand; its handler records every body.
struct Link {
  Link() {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds));
    link.fd = fds[0], peer = fds[1];
    link.on_message = [](void* owner, char* body) {
      static_cast<Link*>(owner)->bodies.emplace_back(body);
      return static_cast<Link*>(owner)->bodies.back() == "fail" ? -1 : 0;
    };
    link.owner = this;
    link.exit_status = &exit_status;
    link.write_event_added = true;  // the writer is driven by hand
  }
  ~Link() { infod_kept_forget(link.fd); close(link.fd); close(peer); }
  void send(const std::string& bytes, int reads = 1) {
    ASSERT_TRUE(bytes.empty() || write(peer, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
    for (int i = 0; i < reads; ++i) link_on_readable(link.fd, 0, &link);
  }
  std::string received() {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  void send_buffer(int size) { ASSERT_EQ(0, setsockopt(link.fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size)); }
  InfodLink link;
  int exit_status = -1, peer = -1;
  Strings bodies;
};

TEST(LinkWriter, SendsEveryMessageWholeAndInOrderAndAFlushFinishesOnlyThePartlyWrittenHead) {
  Link l;
  l.send_buffer(4096);
  const std::string big(200000, 'v');
  link_push(&l.link, kLogKey, big.c_str());
  link_push_status(&l.link, "x.refs.ref1", "Normal");
  link_push(&l.link, kLogKey, big.c_str());
  link_subscribe(&l.link, "a.b");
  EXPECT_EQ(-1, link_send(&l.link, kInfodGet, "a.b", 0, nullptr));  // the daemon only pushes and subscribes
  // Partial writes until the second big message is at the head, begun.
  std::string bytes;
  for (int i = 0; i < 10000 && (l.link.out_queue.size() > 2 || l.link.write_offset == 0); ++i) {
    link_on_writable(l.link.fd, 0, &l.link);
    bytes += l.received();
  }
  ASSERT_EQ(2u, l.link.out_queue.size());
  l.send_buffer(1 << 20);  // room for the rest
  EXPECT_EQ(0, link_flush_head(&l.link));
  EXPECT_EQ(1u, l.link.out_queue.size());
  const std::string log = frame("1\x1e" "config.autoresponse.log\x1e" "0\x1e" + big);
  EXPECT_EQ(log + frame("1\x1e" "x.refs.ref1.status\x1e" "2\x1e" "Normal") + log, bytes + l.received());
  link_on_writable(l.link.fd, 0, &l.link);
  EXPECT_EQ(frame("2\x1e" "ard\x1e" "a.b"), l.received());
}

TEST(LinkReader, SplitReadsAssembleOneBodyAtATimeAndWhatAGetReadOnTheWayComesFirstInOrder) {
  Link l;
  const std::string msg = frame("8\x1ek\x1e" "2\x1e" "17\x1e" "31\r\n");
  l.send("");  // nothing to read yet is no error
  for (const std::string& piece : {msg.substr(0, 1), msg.substr(1, 3), msg.substr(4, 5)}) l.send(piece);
  EXPECT_EQ(Strings{}, l.bodies);
  l.send(msg.substr(9));
  EXPECT_EQ(Strings{"8\x1ek\x1e" "2\x1e" "17\x1e" "31\r\n"}, l.bodies);
  // Two messages in one write: header, body, header, body; an empty one carries nothing.
  l.send(frame("a") + frame("") + frame("b"), 2);
  EXPECT_EQ("a", l.bodies.back());
  l.send("", 3);
  EXPECT_EQ("b", l.bodies.back());
  // Messages a synchronous get read on the way are handed over first, in order, in one callback.
  l.send(frame("c") + frame("d") + frame("5\x1e" "k\x1e" "9"), 0);
  char* value = nullptr;
  ASSERT_EQ(0, infod_get_multiple(l.link.fd, "k", &value));
  EXPECT_STREQ("9", value);
  free(value);
  l.send("");
  EXPECT_EQ((Strings{"c", "d"}), Strings(l.bodies.end() - 2, l.bodies.end()));
  EXPECT_EQ(-1, l.exit_status);
}

TEST(LinkReader, ABadStreamOrAFailedHandlerEndsTheDaemonWithStatusOne) {
  const struct { std::string bytes; bool close; int status; const char* log; } rows[] = {
      {"", true, 1, "Error reading message from infod end of stream"},
      {frame("8\x1ekey\x1e").substr(0, 7), true, 1, "Error reading message from infod"},
      {std::string("\0\x10\0\x01", 4), false, 1, "Message too long from infod: 1048577"},
      {std::string("\0\x10\0\0", 4), false, -1, ""},  // 1 MiB itself is allowed
      {frame("fail"), false, 1, "Error handling message"},
  };
  for (const auto& r : rows) {
    Strings lines;
    log_set_observer([](int, const char* text, void* seen) { static_cast<Strings*>(seen)->push_back(text); }, &lines);
    Link l;
    l.send(r.bytes, 0);
    if (r.close) shutdown(l.peer, SHUT_WR);
    l.send("", 3);
    log_set_observer(nullptr, nullptr);
    EXPECT_EQ(r.status, l.exit_status) << r.log;
    EXPECT_EQ(*r.log == '\0' ? Strings{} : Strings{r.log}, lines) << r.log;
  }
}

}  // namespace
