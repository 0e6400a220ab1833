// Cutting engine log lines at 127 bytes without splitting a character.
#include <gtest/gtest.h>

#include "base/log_line.h"

namespace {

TEST(LogLine, CutAt127BytesBeforeACharacterTheCutWouldSplit) {
  const std::string a125(125, 'a'), a126(126, 'a'), a127(127, 'a');
  const std::pair<std::string, std::string> rows[] = {
      {"AR: name=x", "AR: name=x"}, {a127, a127}, {std::string(300, 'a'), a127},
      {a126 + "\xc3\xa9tail", a126}, {a125 + "\xf0\x9f\x98\x80tail", a125},  // two and four bytes across the cut
      {a125 + "\xc3\xa9tail", a125 + "\xc3\xa9"},                              // one that ends at the cut
      {std::string(200, '\x80'), std::string(127, '\x80')}};                   // not UTF-8: cut plainly
  for (const auto& [text, want] : rows) EXPECT_EQ(want, format_log_line("%s", text.c_str()).text) << text.size();
}

}  // namespace
