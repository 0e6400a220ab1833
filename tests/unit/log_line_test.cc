// Cutting engine log lines at 127 bytes without splitting a character.
#include <gtest/gtest.h>

#include <string>

#include "core/log_line.h"

namespace {

std::string cut(const std::string& text) { return format_log_line("%s", text.c_str()).text; }

TEST(LogLine, ShortLinesStayWhole) {
  EXPECT_EQ("AR: name=x", cut("AR: name=x"));
  EXPECT_EQ(std::string(127, 'a'), cut(std::string(127, 'a')));
}

TEST(LogLine, LongLinesAreCutAt127Bytes) { EXPECT_EQ(std::string(127, 'a'), cut(std::string(300, 'a'))); }

TEST(LogLine, ACharacterAcrossTheCutGoesWhole) {
  // Two-byte "é" at bytes 126 and 127.
  EXPECT_EQ(std::string(126, 'a'), cut(std::string(126, 'a') + "\xc3\xa9" + "tail"));
  // Four-byte character starting at byte 125.
  EXPECT_EQ(std::string(125, 'a'), cut(std::string(125, 'a') + "\xf0\x9f\x98\x80" + "tail"));
  // A character that ends exactly at the cut stays.
  EXPECT_EQ(std::string(125, 'a') + "\xc3\xa9", cut(std::string(125, 'a') + "\xc3\xa9" + "tail"));
}

TEST(LogLine, BytesThatAreNotUtf8AreCutPlainly) {
  const std::string junk(200, '\x80');
  EXPECT_EQ(std::string("Control Message from ") + std::string(106, '\x80'),
            std::string(format_log_line("Control Message from %s", junk.c_str()).text));
}

}  // namespace
