// The infod wire protocol as the development infod speaks it: frames of a
// 4-byte big-endian body length and a body of 0x1E-separated fields, the
// bodies of each message type, and the subscription match rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devinfod {

constexpr char kRs = '\x1e';
// A body longer than this closes the connection that sent it.
constexpr size_t kMaxBody = 1024 * 1024;

// Header and body of one frame.
std::string encode_frame(const std::string& body);

// Assembles frames from a byte stream that arrives in arbitrary pieces.
class FrameDecoder {
 public:
  enum class Status { kFrame, kNeedMore, kOversize };

  // Appends received bytes.
  void feed(const char* data, size_t len);
  void feed(const std::string& data) { feed(data.data(), data.size()); }

  // Takes the next complete body into body (kFrame); kNeedMore until one is
  // complete; kOversize, for good, once a header announces more than
  // kMaxBody bytes.
  Status next(std::string& body);

  // Bytes received but not yet returned as a frame.
  size_t pending() const { return buf_.size() - pos_; }

 private:
  std::string buf_;
  size_t pos_ = 0;
  bool oversize_ = false;
};

// Splits body at RS into at most max_fields fields; the last one keeps the
// rest of the body, separators included. Empty fields are kept.
std::vector<std::string> split_fields(const std::string& body, size_t max_fields);

// True when an update for key goes to a subscription to sub: the key is sub
// itself or lies below it ("a.b" takes "a.b" and "a.b.c", not "a.bc").
bool subscription_matches(const std::string& sub, const std::string& key);

// Bodies of the message types.
std::string push_body(const std::string& key, long long number, const std::string& value);
std::string subscribe_body(const std::string& client, const std::string& key);
std::string unsubscribe_body(const std::string& client, const std::string& key);
std::string get_body(const std::string& client, const std::string& key);
std::string reply_body(const std::string& key, const std::optional<std::string>& value);
std::string update_body(const std::string& key, long long number, uint64_t time_ms, const std::string& value);

// A message a client sent to infod.
struct Request {
  enum class Kind { kPush, kSubscribe, kUnsubscribe, kGet, kUnknown, kMalformed };
  Kind kind = Kind::kUnknown;
  std::string client;  // subscribe, unsubscribe, get
  std::string key;
  long long number = 0;  // push
  std::string value;     // push
};

// Parses a body sent to infod. Known types with missing fields, an empty
// key or a number that is not a whole decimal are kMalformed.
Request parse_request(const std::string& body);

// The log line of a received body: "<- push KEY NUMBER VALUE",
// "<- sub CLIENT KEY", "<- unsub CLIENT KEY", "<- get CLIENT KEY",
// "<- unknown BODY" or "<- bad BODY", with RS shown as "|" and CR and LF
// as "\r" and "\n", so that every frame is one line.
std::string describe_request(const std::string& body);

// A message infod sent to a client.
struct Reply {
  int type = 0;  // 5 reply, 8 update, 0 anything else
  std::string key;
  std::optional<std::string> value;  // cut at CR or LF; none in a bare reply
  long long number = 0;              // update
  uint64_t time_ms = 0;              // update
};

// Parses a type 5 or type 8 body; type 0 for anything else or a malformed one.
Reply parse_reply(const std::string& body);

}  // namespace devinfod
