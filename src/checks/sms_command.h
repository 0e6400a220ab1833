// The parsing and matching behind the SMS command check: splitting an
// incoming "sender:message" value, the allowed-sender list and the PCRE
// match of the message. Every input here comes from outside the appliance.
#pragma once

#include <string>
#include <string_view>

// The two parts of an incoming SMS value.
struct SmsText {
  std::string sender;   // the first ':'-delimited token, leading ':' skipped
  std::string message;  // everything after the ':' that ends the sender
};

// The sender an incoming value names: its first ':'-delimited token,
// leading ':' skipped; the whole value when it has no ':' after that.
std::string sms_sender(std::string_view value);

// Splits value; false when it has no sender or nothing after the sender's
// ':' (then out is left as it was).
bool sms_split(std::string_view value, SmsText* out);

// Whether sender is one of the comma-separated numbers of list, compared
// as exact texts (empty fields skipped). An empty list allows anyone.
bool sms_sender_allowed(std::string_view list, std::string_view sender);

enum class SmsMatch {
  kMatch,
  kNoMatch,     // no match, or the match gave up at its limits
  kBadPattern,  // the pattern does not compile
};

// Compiles pattern with PCRE's default options and searches message for
// it, unanchored. On kBadPattern, error (when given) receives PCRE's text.
// The search is bounded, so a pathological pattern or text can neither
// exhaust the stack nor hold the event loop for long.
SmsMatch sms_match(const char* pattern, std::string_view message, std::string* error);
