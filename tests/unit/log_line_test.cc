// Log lines: outside text escaped in the log and in engine log lines, and engine log lines cut at 127 bytes
// without splitting a character or an escape.
#include <gtest/gtest.h>

#include "base/log.h"
#include "base/log_line.h"
#include "support/test_daemon.h"

namespace {

// Every C0 control byte but RS, and nothing else, becomes \xHH.
TEST(LogLine, ControlBytesOfOutsideTextAreEscapedInTheLogAndInEngineLines) {
  const std::pair<std::string, std::string> rows[] = {
      {"admin\nAR: forged", "admin\\x0aAR: forged"},
      {"a\r\n\tb", "a\\x0d\\x0a\\x09b"},
      {std::string("\0", 1) + "x", ""},  // a text ends at NUL
      {"\x01\x1f\x1e\x7f", "\\x01\\x1f\x1e\x7f"},  // RS and DEL stay
      {"100% \\x41 caf\xc3\xa9 \xe2\x82\xac \xff", "100% \\x41 caf\xc3\xa9 \xe2\x82\xac \xff"},
  };
  for (const auto& [text, want] : rows) {
    LogCapture log;
    ar_log(kLogInfo, "Control Message from %s", text.c_str());
    EXPECT_EQ(Strings{"Control Message from " + want}, log.texts()) << want;
    EXPECT_EQ("Control Message from " + want, format_log_line("Control Message from %s", text.c_str()).text) << want;
  }
  // What a caller keeps beside the log is the text itself.
  LogCapture log;
  EXPECT_EQ("a\nb", ar_log_text(kLogInfo, "%s", "a\nb"));
  EXPECT_EQ(Strings{"a\\x0ab"}, log.texts());
}

TEST(LogLine, CutAt127BytesBeforeACharacterOrAnEscapeTheCutWouldSplit) {
  const std::string a123(123, 'a'), a124(124, 'a'), a125(125, 'a'), a126(126, 'a'), a127(127, 'a');
  const std::pair<std::string, std::string> rows[] = {
      {"AR: name=x", "AR: name=x"}, {a127, a127}, {std::string(300, 'a'), a127},
      {a126 + "\xc3\xa9tail", a126}, {a125 + "\xf0\x9f\x98\x80tail", a125},  // two and four bytes across the cut
      {a125 + "\xc3\xa9tail", a125 + "\xc3\xa9"},                              // one that ends at the cut
      {std::string(200, '\x80'), std::string(127, '\x80')},                    // not UTF-8: cut plainly
      {a123 + "\ntail", a123 + "\\x0a"},                                        // an escape that ends at the cut
      {a124 + "\ntail", a124}, {a126 + "\ntail", a126},                       // one across it
      {std::string(40, '\n'), [] { std::string s; for (int i = 0; i < 31; ++i) s += "\\x0a"; return s; }()},
      {a123 + "\xc3\xa9\n", a123 + "\xc3\xa9"},
  };
  for (const auto& [text, want] : rows) EXPECT_EQ(want, format_log_line("%s", text.c_str()).text) << text.size();
}

}  // namespace
