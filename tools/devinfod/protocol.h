// How the development infod reads what its clients send and what it sends
// them: the subscription match rule, and the strict readings of requests,
// replies and updates. Frames and bodies are wire/frame.h's and
// wire/message.h's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devinfod {

// True when an update for key goes to a subscription to sub: the key is sub
// itself or lies below it ("a.b" takes "a.b" and "a.b.c", not "a.bc").
bool subscription_matches(const std::string& sub, const std::string& key);

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
Request parse_request(std::string_view body);

// The log line of a received body: "<- push KEY NUMBER VALUE",
// "<- sub CLIENT KEY", "<- unsub CLIENT KEY", "<- get CLIENT KEY",
// "<- unknown BODY" or "<- bad BODY", with RS shown as "|" and CR and LF
// as "\r" and "\n", so that every frame is one line.
std::string describe_request(std::string_view body);

// A message infod sent to a client.
struct Reply {
  int type = 0;  // 5 reply, 8 update, 0 anything else
  std::string key;
  std::optional<std::string> value;  // cut at CR or LF; none in a bare reply
  long long number = 0;              // update
  uint64_t time_ms = 0;              // update
};

// Parses a type 5 or type 8 body; type 0 for anything else or a malformed one.
Reply parse_reply(std::string_view body);

}  // namespace devinfod
