// arctl's pipelined gets against a scripted infod: replies matched by key
// whatever their order, and updates read on the way kept, in order, for
// next_update.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include "arctl/infod.h"
#include "support/e2e.h"

namespace {


std::string reply(const std::string& key) { return frame_of(std::string("5") + kRS + key); }
std::string reply(const std::string& key, const std::string& value) { return reply(key + kRS + value); }
std::string update(const std::string& key, const std::string& value) {
  return frame_of(std::string("8") + kRS + key + kRS + "1" + kRS + "1000" + kRS + value + "\r\n");
}

TEST(ArctlInfod, GetManyMatchesRepliesByKeyAndKeepsUpdatesInOrder) {
  e2e::TempDir dir;
  const std::string path = dir.path() + "/infod-sock";
  const int listener = e2e::bound_socket(SOCK_STREAM, path);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(listen(listener, 1), 0);
  InfodConnection infod;
  std::string error;
  ASSERT_TRUE(infod.open(path, &error)) << error;
  e2e::Raw server(accept(listener, nullptr, nullptr));
  close(listener);

  // Replies out of order, an update before them, the value of b holding the field separator, and a second
  // update of which only the first bytes come before the last reply.
  const std::string second = update("k.two", "2");
  ASSERT_TRUE(server.write_all(update("k.one", "1") + reply("b", std::string("x") + kRS + "y") + reply("a") +
                               second.substr(0, 7)));
  std::vector<std::optional<std::string>> values;
  ASSERT_TRUE(infod.get_many({"a", "b", "a"}, &values));
  EXPECT_EQ(values, (std::vector<std::optional<std::string>>{std::nullopt, std::string("x") + kRS + "y", std::nullopt}));
  // Each key asked once.
  EXPECT_EQ(server.read_body(), std::string("4") + kRS + "arctl" + kRS + "a");
  EXPECT_EQ(server.read_body(), std::string("4") + kRS + "arctl" + kRS + "b");

  // A get while updates are held reads after them, and leaves them for next_update.
  ASSERT_TRUE(server.write_all(second.substr(7) + reply("c", "3")));
  std::optional<std::string> c;
  ASSERT_TRUE(infod.get("c", &c));
  EXPECT_EQ(c, "3");
  EXPECT_TRUE(infod.readable());
  InfodUpdate u;
  ASSERT_TRUE(infod.next_update(&u, 1000));
  EXPECT_EQ(u.key + "=" + u.value, "k.one=1");
  ASSERT_TRUE(infod.next_update(&u, 1000));
  EXPECT_EQ(u.key + "=" + u.value, "k.two=2");

  // A silent infod: the gets fail, after their time, rather than wait for ever.
  EXPECT_FALSE(infod.get_many({"d"}, &values));
}

}  // namespace
