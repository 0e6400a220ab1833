// The parsing and matching behind the SMS command check: splitting an
// incoming "sender:message" value, the allowed-sender list and the PCRE2
// match of the message. Every input here comes from outside the appliance.
#pragma once

#include <cstddef>
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

// Whether pattern compiles, as sms_match compiles it; when it does not,
// PCRE2's text (when error is given) and the offset in pattern, as it is
// written, where PCRE2 found the fault.
bool sms_pattern_compiles(const char* pattern, std::string* error, size_t* offset);

// Compiles pattern as PCRE compiled it (sms_command.cc says how PCRE2 is
// told to) and searches message for it, unanchored. On kBadPattern, error
// (when given) receives PCRE2's text.
// The search is bounded, so a pathological pattern or text can neither
// exhaust the stack nor hold the event loop for long.
SmsMatch sms_match(const char* pattern, std::string_view message, std::string* error);
