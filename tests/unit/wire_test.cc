// infod's frames and message bodies, as every peer of infod writes and reads them.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire/frame.h"
#include "wire/message.h"

namespace {

using Strings = std::vector<std::string>;

TEST(Wire, EachTypesBodyIsItsFieldsAndAFrameIsItsLengthBigEndianThenTheBody) {
  const struct { std::string body, want; } rows[] = {
      {push_body("k", -2, "v\x1ew"), "1\x1ek\x1e-2\x1ev\x1ew"},
      {request_body(kInfodSubscribe, "ard", "a.b"), "2\x1e" "ard\x1e" "a.b"},
      {request_body(kInfodUnsubscribe, "ard", "a.b"), "3\x1e" "ard\x1e" "a.b"},
      {request_body(kInfodGet, "arctl", "k"), "4\x1e" "arctl\x1ek"},
      {reply_body("k", std::nullopt), "5\x1ek"},
      {reply_body("k", ""), "5\x1ek\x1e"},
      {update_body("k", 2147483647, 1700000000123, "31"), "8\x1ek\x1e" "2147483647\x1e" "1700000000123\x1e" "31\r\n"},
      {join_fields({"", "a", ""}), "\x1e" "a\x1e"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.want, r.body);
  EXPECT_EQ(std::string("\0\0\0\x03" "abc", 7), frame_of("abc"));
  EXPECT_EQ(0x01020304u, frame_length("\x01\x02\x03\x04"));
  EXPECT_EQ(0xfffefdfcu, frame_length("\xff\xfe\xfd\xfc"));
}

// The daemon's reading of what infod sends: empty fields vanish, CR or LF ends a field too, the value keeps RS,
// the number is clamped to 32 bits, and what is no number reads as 0.
TEST(Wire, AMessageSplitsAsTheDaemonReadsIt) {
  auto split = [](std::string body) {  // "count|type|key|number|time_ms|value", "-" for no text
    InfodMessage m;
    const int n = split_message(body.data(), &m);
    return std::to_string(n) + "|" + std::to_string(m.type) + "|" + (m.key ? m.key : "-") + "|" +
           std::to_string(m.number) + "|" + std::to_string(m.time_ms) + "|" + (m.value ? m.value : "-");
  };
  const struct { std::string body, want; } rows[] = {
      {"8\x1e\x1ekey.a\x1e" "5\x1e" "77\x1e" "va\x1elue\r\nrest", "5|8|key.a|5|77|va\x1elue"},
      {"8\x1ekey\x1e\x1e" "1700\x1evalue\n", "4|8|key|1700|0|-"},
      {"8\rkey\n1\r2\x1e\x1e\x1e", "5|8|key|1|2|\x1e\x1e"},
      {"8\x1ek\x1e" "99999999999\x1e" "1\x1ev", "5|8|k|2147483647|1|v"},
      {"8\x1ek\x1e-99999999999\x1e" "1\x1ev", "5|8|k|-2147483648|1|v"},
      {"5\x1ek", "2|5|k|0|0|-"},
      {"\x1e\r\n", "0|0|-|0|0|-"},
      {"", "0|0|-|0|0|-"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.want, split(r.body)) << r.body;
}

// How infod reads its clients, and how a get's reply reads: the key ends at RS, CR or LF, the value at CR or LF.
TEST(Wire, FieldsAndRepliesSplitAsTheirReadersNeed) {
  const auto fields = [](std::string_view body, size_t most) {
    const std::vector<std::string_view> f = split_fields(body, most);
    return Strings(f.begin(), f.end());
  };
  EXPECT_EQ((Strings{"1", "", "k", "v\x1e\x1ew"}), fields("1\x1e\x1ek\x1ev\x1e\x1ew", 4));
  EXPECT_EQ((Strings{"2", "c"}), fields("2\x1e" "c", 3));
  EXPECT_EQ((Strings{""}), fields("", 2));
  const struct { std::string body; bool reply; std::string key; std::optional<std::string> value; } rows[] = {
      {"5\x1ek\x1ev\x1ew\r\nx", true, "k", "v\x1ew"}, {"5\x1ek", true, "k", std::nullopt},
      {"5\x1ek\r\n\x1ev", true, "k", std::nullopt},   {"5\x1e", true, "", std::nullopt},
      {"55\x1ek", false, "", std::nullopt},            {"8\x1ek\x1e" "0\x1e" "0\x1ev", false, "", std::nullopt},
  };
  for (const auto& r : rows) {
    std::string_view key;
    std::optional<std::string_view> value;
    ASSERT_EQ(r.reply, split_reply(r.body, &key, &value)) << r.body;
    if (!r.reply) continue;
    EXPECT_EQ(r.key, key);
    EXPECT_EQ(r.value, value ? std::optional<std::string>(*value) : std::nullopt) << r.body;
  }
}

// Frames come back whole and in order however the stream is cut, up to the limit and not past it.
TEST(Wire, AFrameReaderGivesBackEveryBodyInOrderUpToTheLimit) {
  const Strings bodies = {"a", "", std::string(kMaxInfodMessage, 'x'), update_body("k", 1, 2, "v")};
  std::string stream;
  for (const std::string& b : bodies) stream += frame_of(b);
  for (const size_t piece : {size_t(7), size_t(65536), stream.size()}) {
    FrameReader reader;
    Strings got;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.feed(std::string_view(stream).substr(at, piece));
      for (std::string_view body; reader.next(&body) == FrameReader::Status::kFrame;) got.emplace_back(body);
    }
    EXPECT_EQ(bodies, got) << piece;
    EXPECT_EQ(0u, reader.pending());
  }
  FrameReader reader;
  std::string_view body;
  reader.feed(std::string("\0\x10\0\x01" "x", 5));
  EXPECT_EQ(FrameReader::Status::kOversize, reader.next(&body));
  reader.feed(frame_of("a"));
  EXPECT_EQ(FrameReader::Status::kOversize, reader.next(&body));
}

}  // namespace
