// The development infod, through its client commands and a raw connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/e2e.h"

namespace {

using namespace e2e;
const std::string RS(1, kRS);

TEST(Devinfod, ForwardsUpdatesByKeyPrefixOnceEachAnswersGetsAndWatches) {
  TempDir dir;
  DevInfod infod{dir.path() + "/infod-sock", dir.path() + "/frames.log", dir.path() + "/stderr"};
  ASSERT_TRUE(infod.start());
  const int out = open((dir.path() + "/watch").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const pid_t watch =
      spawn_built("devinfod", {"watch", "--socket", infod.socket, "--count", "2", "a.b", "c"}, out, infod.err);
  close(out);
  Raw sub(infod.socket);
  for (const char* key : {"a.b", "a.b.c"}) ASSERT_TRUE(sub.write_all(frame_of("2" + RS + "raw" + RS + key)));
  ASSERT_TRUE(sub.write_all(frame_of("4" + RS + "raw" + RS + "sync")));
  ASSERT_EQ(sub.read_body(), "5" + RS + "sync");  // the subscriptions are in force
  ASSERT_TRUE(infod.logged("<- sub watch c"));

  for (const char* key : {"a.b", "a.bc", "a", "x.a.b", "a.b.c.d", "a.b.", "empty"}) {
    ASSERT_EQ(infod.command({"push", key, key[0] == 'e' ? "" : "1" + RS + "2"}).first, 0);
  }
  const auto before = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());
  ASSERT_EQ(infod.command({"push", "a.b.c", "v" + RS + "w", "--number", "2"}).first, 0);
  const auto after = std::chrono::system_clock::now();
  // Each update under the keys comes once: the replies to the gets below would meet any other.
  Strings keys;
  for (std::string body; keys.size() < 3 && !(body = sub.read_body()).empty();) {
    keys.push_back(body.substr(2, body.find(RS, 2) - 2));
  }
  EXPECT_EQ(keys, (Strings{"a.b", "a.b.c.d", "a.b."}));
  const std::string last = sub.read_body();
  // Type, key, number, the time in 13 digits of milliseconds, value, CR LF.
  const std::string start = "8" + RS + "a.b.c" + RS + "2" + RS, ms = last.substr(start.size(), 13);
  EXPECT_EQ(last, start + ms + RS + "v" + RS + "w\r\n");
  ASSERT_EQ(ms.find_first_not_of("0123456789"), std::string::npos) << ms;
  const std::chrono::system_clock::time_point stamped{std::chrono::milliseconds(std::stoll(ms))};
  EXPECT_TRUE(before <= stamped && stamped <= after);
  EXPECT_EQ(wait_exit(watch), 0);
  EXPECT_EQ(read_file(dir.path() + "/watch"), "a.b=1" + RS + "2\na.b.c.d=1" + RS + "2\n");

  // A get answers with the last value, or the key alone when there is none.
  const struct { std::string key; int status; std::string out, reply; } rows[] = {
      {"config.nothing", 1, "", "5" + RS + "config.nothing"}, {"empty", 0, "\n", "5" + RS + "empty" + RS},
      {"a.b.c", 0, "v" + RS + "w\n", "5" + RS + "a.b.c" + RS + "v" + RS + "w"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.key);
    EXPECT_EQ(infod.command({"get", r.key}), std::make_pair(r.status, r.out));
    ASSERT_TRUE(sub.write_all(frame_of("4" + RS + "raw" + RS + r.key)));
    EXPECT_EQ(sub.read_body(), r.reply);
  }
  EXPECT_EQ(infod.stop(), 0);
  expect_no_sanitizer_report(infod.err);
}

}  // namespace
