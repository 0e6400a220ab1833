// End-to-end tests of the development infod: a private server driven through
// its client commands and through raw sockets that check the bytes on the wire.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e.h"

namespace {

using e2e::frame;
using e2e::Raw;
const std::string RS = e2e::kRS;

class Devinfod : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(infod_.start()); }
  void TearDown() override {
    EXPECT_EQ(infod_.stop(), 0);
    const std::string err = e2e::read_file(err_);
    for (const char* bad : {"Sanitizer", "runtime error"}) EXPECT_EQ(err.find(bad), std::string::npos) << err;
  }
  e2e::Result cmd(const std::vector<std::string>& args) const { return infod_.command(args); }
  void push(const std::string& key, const std::string& value) { ASSERT_EQ(cmd({"push", key, value}).status, 0); }
  std::string get_body(Raw& raw, const std::string& key) {
    EXPECT_TRUE(raw.write_all(frame("4" + RS + "raw" + RS + key)));
    return raw.read_body();
  }
  // A raw client subscribed to keys; the reply to a get after them puts them in force.
  std::unique_ptr<Raw> subscriber(const std::vector<std::string>& keys) {
    auto raw = std::make_unique<Raw>(infod_.socket());
    for (const auto& k : keys) EXPECT_TRUE(raw->subscribe(k));
    raw->bodies_until_reply("sync");
    return raw;
  }

  e2e::TempDir dir_;
  const std::string err_ = dir_.path() + "/stderr";
  e2e::DevInfod infod_{dir_.path() + "/infod-sock", dir_.path() + "/frames.log", err_};
};

TEST_F(Devinfod, GetAnswersWithTheLastValueOrTheKeyAloneWhenAbsent) {
  push("k", "41");
  push("k", "x" + RS + "y");
  push("empty", "");
  struct Row { std::string key; int status; std::string out, reply; };
  const Row rows[] = {{"config.nothing", 1, "", "5" + RS + "config.nothing"},
                      {"empty", 0, "\n", "5" + RS + "empty" + RS},
                      {"k", 0, "x" + RS + "y\n", "5" + RS + "k" + RS + "x" + RS + "y"}};
  Raw raw(infod_.socket());
  for (const Row& r : rows) {
    SCOPED_TRACE(r.key);
    e2e::Result got = cmd({"get", r.key});
    EXPECT_EQ(got.status, r.status);
    EXPECT_EQ(got.out, r.out);
    EXPECT_EQ(get_body(raw, r.key), r.reply);
  }
}

TEST_F(Devinfod, UpdateFrameIsByteExact) {
  auto sub = subscriber({"a.b"});
  const auto before = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
  ASSERT_EQ(cmd({"push", "a.b.c", "v" + RS + "w", "--number", "2"}).status, 0);
  const auto after = std::chrono::system_clock::now();
  const std::string start = "8" + RS + "a.b.c" + RS + "2" + RS, end = RS + "v" + RS + "w\r\n";
  const std::string bytes = sub->read_bytes(4 + start.size() + 13 + end.size());  // 13 digits of milliseconds
  const std::string ms = bytes.substr(4 + start.size(), 13);
  EXPECT_EQ(bytes, frame(start + ms + end));
  ASSERT_EQ(ms.find_first_not_of("0123456789"), std::string::npos) << ms;
  const std::chrono::system_clock::time_point stamped{std::chrono::milliseconds(std::stoll(ms))};
  EXPECT_TRUE(before <= stamped && stamped <= after);
}

TEST_F(Devinfod, SubscriptionsTakeTheKeyAndItsDottedChildrenOnceEach) {
  auto sub = subscriber({"a.b", "a.b.c"});
  for (const char* key : {"a.b", "a.bc", "a.b.c", "a", "x.a.b", "a.b.c.d", "a.b."}) push(key, "1");
  std::vector<std::string> keys;
  for (const auto& body : sub->bodies_until_reply("sync")) keys.push_back(body.substr(2, body.find(RS, 2) - 2));
  EXPECT_EQ(keys, (std::vector<std::string>{"a.b", "a.b.c", "a.b.c.d", "a.b."}));
}

TEST_F(Devinfod, FramesSplitAcrossWrites) {
  Raw raw(infod_.socket());
  const std::string bytes =
      frame("1" + RS + "split.key" + RS + "0" + RS + "pieces") + frame("4" + RS + "raw" + RS + "split.key");
  size_t at = 0;
  for (size_t cut : {size_t{1}, size_t{4}, size_t{7}, size_t{20}, bytes.size() - 3, bytes.size()}) {
    ASSERT_TRUE(raw.write_all(bytes.substr(at, cut - at)));
    at = cut;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(raw.read_body(), "5" + RS + "split.key" + RS + "pieces");
}

TEST_F(Devinfod, OversizeFrameClosesOnlyThatConnection) {
  auto sub = subscriber({"big"});
  Raw pusher(infod_.socket());
  const std::string start = "1" + RS + "big" + RS + "0" + RS;
  const std::string value(1024 * 1024 - start.size(), 'v');  // a body of exactly 1 MiB is accepted
  ASSERT_TRUE(pusher.write_all(frame(start + value)));
  const std::string update = sub->read_body();
  EXPECT_EQ(update.substr(update.find(RS + "v")), RS + value + "\r\n");
  Raw bad(infod_.socket());
  ASSERT_TRUE(bad.write_all(std::string("\x00\x10\x00\x01", 4) + "1" + RS));
  EXPECT_TRUE(bad.closed_by_peer());
  ASSERT_TRUE(pusher.push("big", "small"));
  EXPECT_NE(sub->read_body().find(RS + "small\r\n"), std::string::npos);
  EXPECT_EQ(get_body(pusher, "big"), "5" + RS + "big" + RS + "small");
}

TEST_F(Devinfod, WatchPrintsTheUpdatesUnderItsKeys) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC), 0);
  pid_t watch = e2e::spawn(e2e::build_dir() + "/devinfod",
                           {"watch", "--socket", infod_.socket(), "--count", "2", "a.b", "c"}, p[1], err_);
  close(p[1]);
  ASSERT_TRUE(infod_.logged("<- sub watch c"));
  push("a.bc", "no");
  push("a.b.x", "one" + RS + "two");
  push("c", "three");
  const std::string out = e2e::read_file("/dev/fd/" + std::to_string(p[0]));  // to the end of the watch
  close(p[0]);
  EXPECT_EQ(e2e::wait_status_for(watch, 10000), 0);
  EXPECT_EQ(out, "a.b.x=one" + RS + "two\nc=three\n");
}

}  // namespace
