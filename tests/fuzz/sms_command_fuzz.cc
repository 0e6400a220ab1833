// fuzz-seconds: 60
// libFuzzer target: arbitrary SMS values, patterns and sender lists through the SMS check's splitting, the
// sender a reply goes to, sender matching and pattern search (PCRE2, with the patterns PCRE took and PCRE2
// refuses compiled again as PCRE read them). The input is the value, the pattern and the list, separated by
// NUL bytes; each result is checked against a plain restatement of the rule, and a pattern's fault is placed
// inside the pattern as written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "checks/sms_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // SMS texts are short; long inputs only slow the search down
  std::string_view parts[3], rest(reinterpret_cast<const char*>(data), size);
  for (std::string_view& part : parts) {
    part = rest.substr(0, rest.find('\0'));
    rest.remove_prefix(std::min(rest.size(), part.size() + 1));
  }
  const std::string_view value = parts[0], list = parts[2];

  // The sender is the first ':'-delimited token after leading colons; something must follow.
  SmsText sms;
  const bool ok = sms_split(value, &sms);
  const size_t start = value.find_first_not_of(':');
  const size_t colon = start == std::string_view::npos ? start : value.find(':', start);
  if (ok != (colon != std::string_view::npos && colon + 1 < value.size())) abort();
  if (ok && (sms.sender != value.substr(start, colon - start) || sms.message != value.substr(colon + 1))) abort();
  // The sender a reply goes to is the split's sender whenever the split works.
  const std::string reply_to = sms_sender(value);
  if (ok ? reply_to != sms.sender : start != std::string_view::npos && reply_to != value.substr(start, colon - start))
    abort();

  // The list allows the sender when it is empty or holds the sender as a whole field.
  const std::string_view sender = ok ? std::string_view(sms.sender) : value;
  bool expect = list.empty();
  for (size_t pos = 0; pos <= list.size(); pos = std::min(list.find(',', pos), list.size()) + 1) {
    expect = expect || (!sender.empty() && list.substr(pos, list.find(',', pos) - pos) == sender);
  }
  if (sms_sender_allowed(list, sender) != expect) abort();

  const std::string pattern(parts[1]);
  std::string error, fault;
  size_t offset = 0;
  const SmsMatch match = sms_match(pattern.c_str(), ok ? sms.message : value, &error);
  const bool compiles = sms_pattern_compiles(pattern.c_str(), &fault, &offset);
  if ((match == SmsMatch::kBadPattern) == error.empty() || compiles == (match == SmsMatch::kBadPattern)) abort();
  if (!compiles && (fault != error || offset > pattern.size())) abort();
  return 0;
}
