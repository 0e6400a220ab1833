// Tests of the synchronous infod client calls against a scripted peer on a socket pair.
#include "platform/infod_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "support/e2e.h"

namespace {

const std::string RS(1, kRS);

std::string reply(const std::string& key, const std::string& rest) { return frame_of("5" + RS + key + rest); }
std::string update(const std::string& key) { return frame_of("8" + RS + key + RS + "0" + RS + "17" + RS + "1\r\n"); }

class InfodClient : public ::testing::Test {
 protected:
  InfodClient() {
    EXPECT_TRUE(socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0 && fcntl(daemon, F_SETFL, O_NONBLOCK) == 0);
  }
  ~InfodClient() override { infod_buffered_forget(daemon); close(daemon); close(peer); }
  void to_daemon(const std::string& b) const { ASSERT_EQ(write(peer, b.data(), b.size()), ssize_t(b.size())); }
  static std::string pending(int fd) {  // what waits to be read on fd
    char buf[1 << 16];
    ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
  }
  std::string get(const std::string& key) const {  // the value; "<null>" for none, "<failed>" for -1
    char* v = nullptr;
    if (infod_get_multiple(daemon, key.c_str(), &v) != 0) return v ? "<stored on failure>" : "<failed>";
    std::string out = v ? v : "<null>";
    std::free(v);
    return out;
  }
  std::string kept() const {  // in small pieces, as the daemon's reader may take them
    std::string out;
    for (char buf[5]; size_t n = infod_buffered_read(daemon, buf, sizeof buf);) out.append(buf, n);
    return out;
  }
  int fds[2] = {-1, -1};
  const int& daemon = fds[0];  // the non-blocking end the calls use
  const int& peer = fds[1];    // plays infod
};

TEST_F(InfodClient, WireTextsAndReplyValues) {
  ASSERT_EQ(infod_push_multiple_text(daemon, "k", -7, ""), 0);
  EXPECT_EQ(pending(peer), frame_of("1" + RS + "k" + RS + "-7" + RS));
  const std::string big(100000, 'v');  // more than one read
  const std::pair<std::string, std::string> rows[] = {
      {"", "<null>"}, {"\r\n", "<null>"}, {RS, ""}, {RS + "a" + RS + "b\r\njunk", "a" + RS + "b"}, {RS + big, big}};
  for (const auto& [rest, want] : rows) {
    to_daemon(reply("a.count.temp", rest));
    EXPECT_EQ(get("a.count.temp"), want) << rest.substr(0, 10);
    EXPECT_EQ(pending(peer), frame_of("4" + RS + "ard" + RS + "a.count.temp"));
  }
  EXPECT_EQ(get("a" + RS + "b"), "<failed>");  // no reply could match: neither sent nor awaited
  EXPECT_EQ(pending(peer), "");
}

TEST_F(InfodClient, UpdatesAndRepliesForLongerKeysBeforeTheReplyAreKeptByteExactInOrder) {
  std::string before = update("x.enviro.temp") + reply("k.longer", RS + "1") + update("y.enviro.humid") +
                       reply("k.longer.x", RS + "2");
  to_daemon(before + reply("k", RS + "3"));
  EXPECT_EQ(get("k"), "3");
  EXPECT_EQ(kept(), before);
}

// A frame longer than infod takes is read past and kept cut, its header and first bytes, for the daemon's reader to
// log; it is never a reply, and the get fails at once when it was its own. A header no infod could send fails the
// get and is kept for the reader to end the link at.
TEST_F(InfodClient, FramesOverTheLimitAreKeptCutAndNeverTakenForTheReply) {
  const std::string big = frame_of("8" + RS + "x.big" + RS + "0" + RS + "17" + RS + std::string(kInfodMaxBody, 'v'));
  const std::string cut = big.substr(0, 4 + kInfodCutHead);
  std::thread writer = e2e::write_later(peer, big + update("y") + reply("k", RS + "3"));
  EXPECT_EQ(get("k"), "3");
  writer.join();
  EXPECT_EQ(infod_buffered_dropping(daemon), 0u);
  EXPECT_EQ(kept(), cut + update("y"));
  const std::string big_reply = frame_of("5" + RS + "k" + RS + std::string(kInfodMaxBody, 'r'));
  std::thread reply_writer = e2e::write_later(peer, big_reply);
  EXPECT_EQ(get("k"), "<failed>");
  reply_writer.join();
  EXPECT_EQ(kept(), big_reply.substr(0, 4 + kInfodCutHead));
  const std::string no_frame("\x01\0\0\x01", 4);
  to_daemon(no_frame + update("z"));
  EXPECT_EQ(get("k"), "<failed>");
  EXPECT_EQ(get("k"), "<failed>");  // at once again: nothing read past it
  EXPECT_EQ(kept(), no_frame);
  EXPECT_EQ(pending(daemon), update("z"));
}

}  // namespace
