// Tests of the synchronous infod client calls against a scripted peer on a
// socket pair: what they send, what they return, and what they keep.
#include "platform/infod_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

const std::string RS = "\x1e";

std::string frame(const std::string& body) {
  std::string f;
  auto n = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<char>((n >> shift) & 0xff));
  return f + body;
}

std::string update(const std::string& key, const std::string& value) {
  return frame("8" + RS + key + RS + "2" + RS + "1700000000000" + RS + value + "\r\n");
}

// A socket pair: `daemon` is the non-blocking end the calls use, `peer`
// plays infod with blocking calls.
class InfodClient : public ::testing::Test {
 protected:
  void SetUp() override {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    daemon = sv[0];
    peer = sv[1];
    ASSERT_EQ(fcntl(daemon, F_SETFL, fcntl(daemon, F_GETFL) | O_NONBLOCK), 0);
  }
  void TearDown() override {
    infod_kept_forget(daemon);
    close(daemon);
    if (peer >= 0) close(peer);
  }

  void peer_write(const std::string& bytes) const {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = write(peer, bytes.data() + off, bytes.size() - off);
      ASSERT_GT(n, 0);
      off += static_cast<size_t>(n);
    }
  }

  // Reads exactly len bytes on the peer end.
  std::string peer_read(size_t len) const {
    std::string out(len, '\0');
    size_t off = 0;
    while (off < len) {
      ssize_t n = read(peer, &out[off], len - off);
      if (n <= 0) return out.substr(0, off);
      off += static_cast<size_t>(n);
    }
    return out;
  }

  std::string kept() const {
    std::string out(infod_kept_bytes(daemon), '\0');
    EXPECT_EQ(infod_kept_read(daemon, &out[0], out.size()), out.size());
    return out;
  }

  // Runs a get and returns its result; the value lands in value_ (or
  // stays "<null>").
  int get(const std::string& key) {
    char* v = nullptr;
    value_ = "<unset>";
    int rc = infod_get_multiple(daemon, key.c_str(), &v);
    if (rc == 0) value_ = v ? std::string(v) : "<null>";
    std::free(v);
    return rc;
  }

  int daemon = -1;
  int peer = -1;
  std::string value_;
};

TEST_F(InfodClient, GetSendsOneTypeFourFrame) {
  peer_write(frame("5" + RS + "a.count.temp" + RS + "41"));
  ASSERT_EQ(get("a.count.temp"), 0);
  EXPECT_EQ(value_, "41");
  const char raw[] = "\0\0\0\x12" "4\x1e" "ard\x1e" "a.count.temp";
  std::string expect(raw, sizeof raw - 1);
  EXPECT_EQ(peer_read(expect.size()), expect);
  EXPECT_EQ(infod_kept_bytes(daemon), 0u);
}

TEST_F(InfodClient, UpdatesBeforeTheReplyAreKeptInOrder) {
  std::string first = update("x.enviro.temp", "21.5");
  std::string second = update("y.enviro.humid", "40");
  peer_write(first + second + frame("5" + RS + "k" + RS + "7"));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "7");
  EXPECT_EQ(kept(), first + second);
}

TEST_F(InfodClient, ReplyForAnotherKeyIsKept) {
  // "k.longer" and "k.longer.x" are not "k".
  std::string other = frame("5" + RS + "k.longer" + RS + "1");
  peer_write(other + frame("5" + RS + "k.longer.x" + RS + "2") + frame("5" + RS + "k" + RS + "3"));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "3");
  EXPECT_EQ(kept(), other + frame("5" + RS + "k.longer.x" + RS + "2"));
}

TEST_F(InfodClient, ReplyShapes) {
  // Key alone: no value.
  peer_write(frame("5" + RS + "k"));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "<null>");
  // The value may hold RS; a line end closes it.
  peer_write(frame("5" + RS + "k" + RS + "a" + RS + "b\r\njunk"));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "a" + RS + "b");
  // An empty value is a value.
  peer_write(frame("5" + RS + "k" + RS));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "");
  // A key alone followed by a line end still has no value.
  peer_write(frame("5" + RS + "k\r\n"));
  ASSERT_EQ(get("k"), 0);
  EXPECT_EQ(value_, "<null>");
  EXPECT_EQ(infod_kept_bytes(daemon), 0u);
}

TEST_F(InfodClient, ReplySplitAcrossWrites) {
  std::string upd = update("s.enviro.temp", "19");
  std::string bytes = upd + frame("5" + RS + "split" + RS + std::string(300000, 'v'));
  std::thread infod([&] {
    std::string req = frame("4" + RS + "ard" + RS + "split");
    EXPECT_EQ(peer_read(req.size()), req);
    // Header in 1 + 3 bytes, then the rest in uneven pieces.
    std::size_t cuts[] = {1, 4, 9, upd.size() + 2, upd.size() + 4, upd.size() + 100, bytes.size()};
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
      peer_write(bytes.substr(at, cut - at));
      at = cut;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  int rc = get("split");
  infod.join();
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(value_, std::string(300000, 'v'));
  EXPECT_EQ(kept(), upd);
}

TEST_F(InfodClient, PeerClosed) {
  // Closed before the request: the send fails without SIGPIPE.
  close(peer);
  peer = -1;
  EXPECT_EQ(get("k"), -1);
  EXPECT_EQ(value_, "<unset>");
  EXPECT_EQ(infod_push_multiple_text(daemon, "k", 0, "1"), -1);
}

TEST_F(InfodClient, PeerClosesMidFrameKeepsWhatArrived) {
  std::string upd = update("k.a", "1");
  peer_write(upd + upd.substr(0, 6));
  shutdown(peer, SHUT_WR);
  EXPECT_EQ(get("k"), -1);
  EXPECT_EQ(kept(), upd + upd.substr(0, 6));
}

// This and the next test wait out the 2 s bound. Half an update arrives before
// the time-out; the daemon's reader must still see a whole stream, and a
// later get must resume on the right frame boundary.
TEST_F(InfodClient, TimeOutKeepsStreamIntact) {
  std::string upd = update("t.enviro.temp", "30.5");
  peer_write(upd.substr(0, 7));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(get("t"), -1);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::milliseconds(3500));
  EXPECT_EQ(value_, "<unset>");
  EXPECT_EQ(infod_kept_bytes(daemon), 7u);

  // The daemon has not taken the partial frame yet: the next get finishes
  // it before looking for its reply.
  peer_write(upd.substr(7) + frame("5" + RS + "t" + RS + "4"));
  ASSERT_EQ(get("t"), 0);
  EXPECT_EQ(value_, "4");
  EXPECT_EQ(kept(), upd);
  std::string req = frame("4" + RS + "ard" + RS + "t");
  EXPECT_EQ(peer_read(2 * req.size()), req + req);
}

TEST_F(InfodClient, ResumedFrameThatIsTheReplyStaysInTheStream) {
  // A late reply to a get that timed out: its first bytes were promised to
  // the daemon's reader, so the rest must follow them there, and the value
  // still answers the next get of the same key.
  std::string late = frame("5" + RS + "r" + RS + "old");
  peer_write(late.substr(0, 5));
  EXPECT_EQ(get("r"), -1);
  std::string fresh = frame("5" + RS + "r" + RS + "new");
  peer_write(late.substr(5) + fresh);
  ASSERT_EQ(get("r"), 0);
  EXPECT_EQ(value_, "old");
  EXPECT_EQ(kept(), late);
  // The newer reply was not read: it is left for the daemon's reader.
  std::string rest(fresh.size(), '\0');
  EXPECT_EQ(read(daemon, &rest[0], rest.size()), static_cast<ssize_t>(rest.size()));
  EXPECT_EQ(rest, fresh);
}

TEST_F(InfodClient, KeptReadInPieces) {
  std::string a = update("p.1", "one");
  std::string b = update("p.2", "two");
  peer_write(a + b + frame("5" + RS + "p"));
  ASSERT_EQ(get("p"), 0);
  std::string got;
  char buf[5];
  size_t n;
  while ((n = infod_kept_read(daemon, buf, sizeof buf)) > 0) got.append(buf, n);
  EXPECT_EQ(got, a + b);
  EXPECT_EQ(infod_kept_bytes(daemon), 0u);
  EXPECT_EQ(infod_kept_read(daemon, buf, sizeof buf), 0u);
  // Another descriptor keeps nothing.
  EXPECT_EQ(infod_kept_bytes(peer), 0u);
}

TEST_F(InfodClient, BadArguments) {
  char* v = nullptr;
  EXPECT_EQ(infod_get_multiple(-1, "k", &v), -1);
  EXPECT_EQ(infod_get_multiple(daemon, nullptr, &v), -1);
  EXPECT_EQ(infod_get_multiple(daemon, "k", nullptr), -1);
  // A key with a separator could never be answered: no 2 s wait.
  EXPECT_EQ(infod_get_multiple(daemon, ("a" + RS + "b").c_str(), &v), -1);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(infod_push_multiple_text(daemon, nullptr, 0, "v"), -1);
  EXPECT_EQ(infod_push_multiple_text(daemon, "k", 0, nullptr), -1);
}

TEST_F(InfodClient, PushFrames) {
  ASSERT_EQ(infod_push_multiple_text(daemon, "k", -7, ""), 0);
  const char raw[] = "\0\0\0\x07" "1\x1e" "k\x1e" "-7\x1e";
  EXPECT_EQ(peer_read(sizeof raw - 1), std::string(raw, sizeof raw - 1));

  // Larger than the socket buffer: the rest goes out as the peer reads.
  std::string value(1 << 20, 'x');
  std::string expect = frame("1" + RS + "big" + RS + "2" + RS + value);
  std::string got;
  std::thread infod([&] { got = peer_read(expect.size()); });
  int rc = infod_push_multiple_text(daemon, "big", 2, value.c_str());
  infod.join();
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(got == expect);
}

}  // namespace
