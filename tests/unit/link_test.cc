// The infod link on its own: framing, the reader, the writer's order around callbacks and synchronous calls.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include <event2/event.h>
#include <event2/event_compat.h>
#include <gtest/gtest.h>

#include "link/link.h"
#include "link/value_parts.h"
#include "platform/infod_client.h"
#include "support/e2e.h"

namespace {

const std::string kLog = "1\x1e" "config.autoresponse.log\x1e" "0\x1e";

// The frame of a message that the handler records as key.
std::string msg(const std::string& key) { return frame_of("8\x1e" + key); }

// An update of key whose frame is just over the most infod takes, as infod delivers a value pushed at its limit
// with its time stamp.
std::string too_long(const std::string& key) {
  return frame_of(update_body(key, 0, 1700000000000, std::string(kMaxInfodMessage - 16, 'v')));
}
std::string too_long_line(const std::string& frame, const std::string& shown) {
  return "Message too long from infod: " + std::to_string(frame.size() - kFrameHeader) + ": key " + shown;
}

// A link to infod at the other end of a socket pair; its handler records every message as its key (and "=" and its
// value when it has one) and runs on_body.
struct Link {
  Link() {
    int fds[2];
    EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds));
    link.fd = fds[0], peer = fds[1];
    link.on_message = [](void* owner, const InfodMessage& m) {
      auto* self = static_cast<Link*>(owner);
      self->bodies.push_back(std::string(m.key != nullptr ? m.key : "-") + (m.value != nullptr ? "=" : "") +
                             (m.value != nullptr ? m.value : ""));
      if (self->on_body) self->on_body(self->bodies.back());
      return self->bodies.back() == "fail" ? -1 : 0;
    };
    link.owner = this;
    link.exit_status = &exit_status;
  }
  ~Link() { infod_buffered_forget(link.fd); close(link.fd); close(peer); }
  void write_peer(const std::string& bytes) const {
    ASSERT_TRUE(bytes.empty() || write(peer, bytes.data(), bytes.size()) == ssize_t(bytes.size()));
  }
  // Writes bytes as infod, then gives the reader turns (readies at least) until one handles nothing.
  void send(const std::string& bytes, int readies = 1) {
    write_peer(bytes);
    for (size_t before = SIZE_MAX; (readies-- > 0 || before != bodies.size()) && exit_status < 0;) {
      before = bodies.size();
      link_on_readable(link.fd, 0, &link);
    }
  }
  std::string received() const {
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    return out;
  }
  void send_buffer(int size) { ASSERT_EQ(0, setsockopt(link.fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size)); }
  // Writes bytes as infod, the first `small` of them one at a time, the rest as the socket takes them, with the
  // reader's turns in between, and notes the largest the reader's buffer grew.
  void stream(const std::string& bytes, size_t small = 0) {
    for (size_t off = 0; off < bytes.size() && exit_status < 0;) {
      const ssize_t n = write(peer, bytes.data() + off, off < small ? 1 : bytes.size() - off);
      off += n > 0 ? size_t(n) : 0;
      link_on_readable(link.fd, 0, &link);
      largest = std::max(largest, link.in.size());
    }
    send("");
  }
  size_t largest = 0;
  InfodLink link;
  int exit_status = -1, peer = -1;
  Strings bodies;
  std::function<void(const std::string&)> on_body;
};

TEST(LinkWriter, ACallbackSendsWhatItQueuedInOneWriteAtItsEndAfterWhatASynchronousCallWrote) {
  Link l;
  EXPECT_EQ(frame_of("1\x1ek\x1e-2\x1ev") + frame_of("3\x1e" "ard\x1ek"),
            link_format(kInfodPush, "k", -2, "v") + link_format(kInfodUnsubscribe, "k", 7, "v"));
  run_guarded(&l.link, [&l] {
    link_push_status(&l.link, "x.refs.ref1", "Triggered");
    run_guarded(&l.link, [&l] { link_push(&l.link, kLogKey, "line"); });  // only the outermost end writes
    EXPECT_EQ("", l.received());
    // The trigger counter's push goes ahead of what the callback queued.
    EXPECT_EQ(0, infod_push_multiple_text(l.link.fd, "x.count", 0, "3"));
  });
  EXPECT_EQ(frame_of("1\x1ex.count\x1e" "0\x1e" "3") + frame_of("1\x1ex.refs.ref1.status\x1e" "2\x1eTriggered") +
                frame_of(kLog + "line"),
            l.received());
  EXPECT_FALSE(l.link.write_event_added);
  // Outside a callback a message goes at once; the daemon pushes, subscribes and asks, and sends nothing else.
  link_subscribe(&l.link, "a.b");
  link_get(&l.link, "a.b");
  EXPECT_EQ(-1, link_send(&l.link, kInfodReply, "a.b", 0, nullptr));
  EXPECT_EQ(frame_of("2\x1e" "ard\x1e" "a.b") + frame_of("4\x1e" "ard\x1e" "a.b"), l.received());
  EXPECT_TRUE(link_queued(&l.link).empty());
}

TEST(LinkWriter, WhatTheSocketDoesNotTakeWaitsForWritabilityInOrderAndAFlushFinishesOnlyThePartlyWrittenMessage) {
  Link l;
  l.send_buffer(4096);
  const std::string big(200000, 'v');
  run_guarded(&l.link, [&l, &big] {
    link_push(&l.link, kLogKey, big.c_str());
    link_push_status(&l.link, "x.refs.ref1", "Normal");
    link_push(&l.link, kLogKey, big.c_str());
  });
  EXPECT_TRUE(l.link.write_event_added);
  std::string bytes = l.received();
  // What a later callback queues goes behind, on writability, not at its end.
  run_guarded(&l.link, [&l] { link_subscribe(&l.link, "a.b"); });
  bytes += l.received();
  // Writable callbacks until the second big message is at the head, begun.
  for (int i = 0; i < 10000 && (link_queued(&l.link).size() > 2 || l.link.head_rest == 0); ++i) {
    link_on_writable(l.link.fd, 0, &l.link);
    bytes += l.received();
  }
  ASSERT_EQ(2u, link_queued(&l.link).size());
  l.send_buffer(1 << 20);  // room for the rest
  EXPECT_EQ(0, link_flush_head(&l.link));
  EXPECT_EQ(Strings{frame_of("2\x1e" "ard\x1e" "a.b")}, link_queued(&l.link));
  EXPECT_EQ(frame_of(kLog + big) + frame_of("1\x1ex.refs.ref1.status\x1e" "2\x1eNormal") + frame_of(kLog + big),
            bytes + l.received());
  link_on_writable(l.link.fd, 0, &l.link);
  EXPECT_EQ(frame_of("2\x1e" "ard\x1e" "a.b"), l.received());
  EXPECT_FALSE(l.link.write_event_added);
  EXPECT_LE(l.link.out.capacity(), 64u * 1024);  // the large buffer went back
  LogCapture log;
  close(l.peer);
  l.peer = -1;
  link_push(&l.link, kLogKey, "lost");
  EXPECT_EQ(1, l.exit_status);
  EXPECT_EQ(Strings{"Error writing to infod"}, log.texts());
}

// infod closes the link at a message over its limit: none is queued, whatever made it long, and each is logged;
// a long value goes in parts that join to it, cut after a separator where one lies in a part's room.
TEST(LinkWriter, NoMessageIsLongerThanInfodTakesAndLongValuesGoInParts) {
  LogCapture log;
  Link l;
  link_cork(&l.link);
  const std::string fits(kMaxInfodMessage - kLog.size(), 'x'), key(kMaxInfodMessage, 'k');
  EXPECT_EQ(0, link_push(&l.link, kLogKey, fits.c_str()));
  EXPECT_EQ(kPublishTooLong, link_push(&l.link, kLogKey, (fits + "x").c_str()));
  EXPECT_EQ(kPublishTooLong, link_push_status(&l.link, kLogKey, fits.c_str()));  // the suffix counts
  EXPECT_EQ(kPublishTooLong, link_subscribe(&l.link, key.c_str()));
  EXPECT_FALSE(link_fits(kInfodGet, key, ""));
  EXPECT_EQ(Strings{frame_of(kLog + fits)}, link_queued(&l.link));
  EXPECT_EQ((Strings{"Not sent to infod: a push of config.autoresponse.log, 1048577 bytes, over the 1048576 bytes "
                     "infod takes",
                     "Not sent to infod: a push of config.autoresponse.log.status, 1048583 bytes, over the 1048576 "
                     "bytes infod takes",
                     "Not sent to infod: a subscription of " + key.substr(0, 80) + "..., 1048582 bytes, over the "
                     "1048576 bytes infod takes",
                     "Not sent to infod: a get of " + key.substr(0, 80) + "..., 1048582 bytes, over the 1048576 "
                     "bytes infod takes"}),
            log.texts());
  link_drop_queued(&l.link);

  const struct { std::string value; size_t room; Strings parts; } rows[] = {
      {"", 6, {}},
      {"1 a;2 bb;3 cccccccccc;4 d", 6, {"1 a;", "2 bb;", "3 cccc", "cccccc", ";4 d"}},
      {"1 a;2 bb", 8, {"1 a;2 bb"}},
  };
  for (const auto& r : rows) {
    const std::vector<std::string_view> parts = value_parts(r.value, ';', r.room);
    EXPECT_EQ(r.parts, Strings(parts.begin(), parts.end())) << r.value;
  }
  const std::string list = std::string(kValuePartBytes - 1, 'a') + ";b";
  EXPECT_EQ(0, link_push_parts(&l.link, "k", list, ';'));
  EXPECT_EQ(0, link_push_parts(&l.link, "e", "", ';'));
  EXPECT_EQ((Strings{frame_of("1\x1ek.1\x1e" "0\x1e" + list.substr(0, kValuePartBytes)), frame_of("1\x1ek.2\x1e" "0\x1e" "b"),
                     frame_of("1\x1ek\x1e" "0\x1e" "2"), frame_of("1\x1e" "e\x1e" "0\x1e" "0")}),
            link_queued(&l.link));
  link_drop_queued(&l.link);
  link_uncork(&l.link);
}

// What link_init queues goes out only once the loop runs, and only when the socket is writable.
TEST(LinkWriter, StartUpTrafficWaitsForTheLoop) {
  event_base* base = event_init();
  {
    Link l;
    run_guarded(&l.link, [&l] {  // as the daemon wires the link
      link_init(&l.link, l.link.fd, l.link.on_message, &l);
      link_subscribe(&l.link, "a");
    });
    run_guarded(&l.link, [&l] { link_push(&l.link, kLogKey, "loaded"); });
    EXPECT_EQ("", l.received());
    link_start_writing(&l.link);
    EXPECT_EQ("", l.received());
    event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    EXPECT_EQ(frame_of("2\x1e" "ard\x1e" "a") + frame_of(kLog + "loaded"), l.received());
    run_guarded(&l.link, [&l] { link_push(&l.link, kLogKey, "in the loop"); });
    EXPECT_EQ(frame_of(kLog + "in the loop"), l.received());
  }
  event_base_free(base);
}

TEST(LinkReader, EveryWholeMessageOfAReadinessIsHandledAndAPartialOneWaitsInItsState) {
  Link l;
  const std::string update = frame_of("8\x1ek\x1e" "2\x1e" "17\x1e" "31\r\n");
  l.send("");  // nothing to read yet is no error
  EXPECT_EQ(ReaderState::kIdle, link_reader_state(&l.link));
  l.send(msg("a") + frame_of("") + msg("b") + update.substr(0, 1));  // an empty message carries nothing
  EXPECT_EQ((Strings{"a", "b"}), l.bodies);
  EXPECT_EQ(ReaderState::kHeader, link_reader_state(&l.link));
  l.send(update.substr(1, 5));
  EXPECT_EQ(ReaderState::kBody, link_reader_state(&l.link));
  l.send(update.substr(6));
  EXPECT_EQ((Strings{"a", "b", "k=31"}), l.bodies);
  EXPECT_EQ(ReaderState::kIdle, link_reader_state(&l.link));
  // Up to the largest message allowed; then the buffer is of the usual size again.
  for (size_t size : {size_t(70000), size_t(kMaxInfodMessage)}) {
    l.stream(msg(std::string(size - 2, 'x')));
    EXPECT_EQ(size - 2, l.bodies.back().size());
  }
  l.send(msg("c"));
  EXPECT_EQ("c", l.bodies.back());
  EXPECT_EQ(64u * 1024, l.link.in.size());
  EXPECT_EQ(-1, l.exit_status);
}

// The reader read ahead into the middle of a message: link_flush_head reads exactly its rest, and the order
// stays: the rest of the buffer, what the get read on the way, the socket.
TEST(LinkReader, ASynchronousGetInAHandlerFindsAMessageBoundaryAndTheMessagesKeepTheirOrder) {
  const std::string c = msg("c, read in two parts");
  for (size_t cut : {size_t(2), size_t(6)}) {  // inside the header, inside the body
    SCOPED_TRACE(cut);
    Link l;
    char* value = nullptr;
    l.on_body = [&](const std::string& body) {
      if (body != "get") return;
      l.write_peer(c.substr(cut) + msg("d") + frame_of("5\x1e" "k\x1e" "9") + msg("e"));
      ASSERT_EQ(0, link_flush_head(&l.link));
      ASSERT_EQ(0, infod_get_multiple(l.link.fd, "k", &value));
    };
    l.send(msg("get") + msg("b") + c.substr(0, cut));
    ASSERT_NE(nullptr, value);
    EXPECT_STREQ("9", value);
    free(value);
    EXPECT_EQ((Strings{"get", "b", "c, read in two parts", "d", "e"}), l.bodies);
    EXPECT_EQ(frame_of("4\x1e" "ard\x1e" "k"), l.received());
  }
  // A get keeps more than the reader's buffer holds, and a kept message gets again: its flush
  // completes the message the buffer's edge cut from what was kept, not from the socket.
  {
    Link l;
    Strings sent{"get1"};
    std::string kept, after;
    while (kept.size() < 107000) {
      sent.push_back(sent.size() == 150 ? "get2" : "u" + std::to_string(sent.size()) + std::string(200, 'x'));
      kept += msg(sent.back());
    }
    for (int i = 0; i < 300; ++i) after += msg(sent.emplace_back("v" + std::to_string(i)));
    Strings values;
    l.on_body = [&](const std::string& body) {
      if (body != "get1" && body != "get2") return;
      l.write_peer(body == "get1" ? kept + frame_of("5\x1e" "k1\x1e" "1") + after : frame_of("5\x1e" "k2\x1e" "2"));
      char* value = nullptr;
      ASSERT_EQ(0, link_flush_head(&l.link));
      ASSERT_EQ(0, infod_get_multiple(l.link.fd, body == "get1" ? "k1" : "k2", &value));
      values.emplace_back(value != nullptr ? value : "-");
      free(value);
    };
    l.send(msg("get1"));
    EXPECT_EQ(sent, l.bodies);
    EXPECT_EQ((Strings{"1", "2"}), values);
    EXPECT_EQ(-1, l.exit_status);
  }
  // A get outside the reader keeps what it read for the next readiness, ahead of the socket.
  Link l;
  l.write_peer(msg("c") + msg("d") + frame_of("5\x1e" "k\x1e" "9"));
  char* value = nullptr;
  ASSERT_EQ(0, infod_get_multiple(l.link.fd, "k", &value));
  free(value);
  l.send(msg("e"));
  EXPECT_EQ((Strings{"c", "d", "e"}), l.bodies);
  // The rest of a begun message never comes: no synchronous call then.
  l.send(c.substr(0, 6));
  shutdown(l.peer, SHUT_WR);
  EXPECT_EQ(-1, link_flush_head(&l.link));
}

// A flood that each get keeps more of: a turn ends after the handler that got, and a turn handles a bounded number
// of messages; what is left, buffered or kept, follows at the loop's next passes in order with the socket quiet.
TEST(LinkReader, ATurnEndsAfterAGetOrABoundedNumberOfMessagesAndTheNextPassesBringTheRestInOrder) {
  event_base* base = event_init();
  {
    Link l;
    link_init(&l.link, l.link.fd, l.link.on_message, &l);
    link_start_writing(&l.link);
    Strings sent{"get", "a", "b"};
    std::string kept;
    for (int i = 0; i < 3000; ++i) kept += msg(sent.emplace_back("m" + std::to_string(i)));
    l.on_body = [&](const std::string& body) {
      if (body != "get") return;
      l.write_peer(kept + frame_of("5\x1e" "k\x1e" "1"));
      char* value = nullptr;
      ASSERT_EQ(0, link_flush_head(&l.link));
      ASSERT_EQ(0, infod_get_multiple(l.link.fd, "k", &value));
      free(value);
      ASSERT_EQ(0, link_after_get(&l.link));
    };
    l.write_peer(msg("get") + msg("a") + msg("b"));
    link_on_readable(l.link.fd, 0, &l.link);
    EXPECT_EQ(Strings{"get"}, l.bodies);
    event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    EXPECT_LT(1u, l.bodies.size());
    EXPECT_GT(sent.size(), l.bodies.size());
    for (int pass = 0; pass < 100 && l.bodies.size() < sent.size(); ++pass) {
      event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    }
    EXPECT_EQ(sent, l.bodies);
    EXPECT_EQ(-1, l.exit_status);
  }
  event_base_free(base);
}

// A synchronous call in a handler comes after the earlier messages' answers and before its own.
TEST(LinkReader, ASynchronousCallComesAfterEarlierMessagesAnswersAndBeforeItsOwn) {
  Link l;
  l.on_body = [&l](const std::string& body) {
    link_push(&l.link, kLogKey, ("for " + body).c_str());
    if (body != "sync") return;
    ASSERT_EQ(0, link_flush_head(&l.link));
    ASSERT_EQ(0, infod_push_multiple_text(l.link.fd, "count", 0, "1"));
  };
  l.send(msg("a") + msg("sync") + msg("b"));
  EXPECT_EQ(frame_of(kLog + "for a") + frame_of("1\x1e" "count\x1e" "0\x1e" "1") + frame_of(kLog + "for sync") +
                frame_of(kLog + "for b"),
            l.received());
  std::string flood, answers;
  for (int i = 0; i < 2000; ++i) {
    flood += msg("m" + std::to_string(i));
    answers += frame_of(kLog + "for m" + std::to_string(i));
  }
  l.send(flood);
  EXPECT_EQ(answers, l.received());
  EXPECT_LE(l.link.out.capacity(), 64u * 1024);
}

TEST(LinkReader, ABadStreamOrAFailedHandlerEndsTheDaemonWithStatusOne) {
  const struct { std::string bytes; bool close; int status; const char* log; Strings bodies; } rows[] = {
      {"", true, 1, "Error reading message from infod end of stream", {}},
      {frame_of("8\x1ekey\x1e").substr(0, 3), true, 1, "Error reading message from infod end of stream", {}},
      {frame_of("8\x1ekey\x1e").substr(0, 7), true, 1, "Error reading message from infod", {}},
      {msg("ok") + std::string("\x01\0\0\x01", 4), false, 1, "Message too long from infod: 16777217", {"ok"}},
      {std::string("\0\x10\0\0", 4), false, -1, "", {}},  // 1 MiB itself is allowed
      {std::string("\x01\0\0\0", 4), false, -1, "", {}},  // as is 16 MiB, read past
      {msg("fail") + msg("never"), false, 1, "Error handling message", {"fail"}},
  };
  for (const auto& r : rows) {
    LogCapture log;
    Link l;
    l.write_peer(r.bytes);
    if (r.close) shutdown(l.peer, SHUT_WR);
    l.send("", 3);
    EXPECT_EQ(r.status, l.exit_status) << r.log;
    EXPECT_EQ(*r.log == '\0' ? Strings{} : Strings{r.log}, log.texts()) << r.log;
    EXPECT_EQ(r.bodies, l.bodies) << r.log;
  }
}

// A message over infod's limit, as infod delivers a value pushed at it, is read past as it comes and never held
// whole, logged with its length and the beginning of its key, and the next one is handled.
TEST(LinkReader, AMessageOverTheLimitIsReadPastAndLoggedAndTheNextIsHandled) {
  const std::string long_key = "config." + std::string(100, 'k');
  const struct { std::string key, shown; size_t small; } rows[] = {
      {"config.x.y", "config.x.y", 0},
      {"config.x.y", "config.x.y", 200},  // header and kept part in pieces
      {long_key, long_key.substr(0, 64) + "...", 0},
      {"a\x01" "b\tc", "a\\x01b\\x09c", 90},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.shown);
    LogCapture log;
    Link l;
    const std::string big = too_long(r.key);
    l.stream(msg("before") + big + msg("after") + too_long("x") + msg("last"), r.small);
    EXPECT_EQ((Strings{"before", "after", "last"}), l.bodies);
    EXPECT_EQ((Strings{too_long_line(big, r.shown), too_long_line(too_long("x"), "x")}), log.texts());
    EXPECT_EQ(-1, l.exit_status);
    EXPECT_LE(l.largest, 128u * 1024);
    EXPECT_EQ(ReaderState::kIdle, link_reader_state(&l.link));
  }
}

// A synchronous get finds a message boundary and its reply past a message over the limit, wherever that message
// stands: begun in the reader's buffer, come while the get waits, or cut off when the get gives up; the reader
// logs it once and handles the rest in order.
TEST(LinkReader, ASynchronousGetReadsPastAMessageOverTheLimitAndTheReaderLogsItOnce) {
  const std::string big = too_long("config.big"), reply = frame_of("5\x1e" "k\x1e" "9");
  const struct { size_t begun; std::string during, after; std::string value; } rows[] = {
      {1000, big.substr(1000) + reply + msg("after"), "", "9"},
      {0, msg("b") + big + msg("c") + reply + msg("after"), "", "9"},
      {0, msg("b") + big.substr(0, 300000), big.substr(300000) + msg("after"), "-"},  // the get waits in vain
      {0, big.substr(0, 50), big.substr(50) + msg("after"), "-"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.during.size());
    LogCapture log;
    Link l;
    std::string value;
    l.on_body = [&](const std::string& body) {
      if (body != "get") return;
      std::thread writer = e2e::write_later(l.peer, r.during);
      char* got = nullptr;
      ASSERT_EQ(0, link_flush_head(&l.link));
      value = infod_get_multiple(l.link.fd, "k", &got) == 0 && got != nullptr ? got : "-";
      free(got);
      EXPECT_EQ(0, link_after_get(&l.link));
      writer.join();
    };
    l.stream(msg("get") + big.substr(0, r.begun));
    l.stream(r.after);
    EXPECT_EQ(r.value, value);
    Strings want{"get"};
    for (const char* body : {"b", "c"}) {
      if (r.during.find(msg(body)) != std::string::npos) want.push_back(body);
    }
    want.push_back("after");
    EXPECT_EQ(want, l.bodies);
    EXPECT_EQ(Strings{too_long_line(big, "config.big")}, log.texts());
    EXPECT_EQ(-1, l.exit_status);
    EXPECT_LE(l.largest, 128u * 1024);
  }
}

}  // namespace
