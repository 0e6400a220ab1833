// fuzz-seconds: 60
// libFuzzer target: arbitrary SMS values, patterns and sender lists through
// the SMS check's splitting, sender matching and pattern search. The input
// is the value, the pattern and the list, separated by NUL bytes; each
// result is checked against a plain restatement of the rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "checks/sms_command.h"

namespace {

// The next NUL-terminated part of the input; the rest when there is none.
std::string_view take_part(std::string_view* rest) {
  const size_t nul = rest->find('\0');
  const std::string_view part = rest->substr(0, nul);
  *rest = nul == std::string_view::npos ? std::string_view() : rest->substr(nul + 1);
  return part;
}

void check_split(std::string_view value) {
  SmsText sms;
  const bool ok = sms_split(value, &sms);
  const size_t start = value.find_first_not_of(':');
  const size_t colon = start == std::string_view::npos ? start : value.find(':', start);
  const bool expect_ok = colon != std::string_view::npos && colon + 1 < value.size();
  if (ok != expect_ok) std::abort();
  if (!ok) return;
  if (sms.sender.empty() || sms.message.empty() || sms.sender.find(':') != std::string::npos) std::abort();
  const std::string tail = sms.sender + ":" + sms.message;
  if (tail.size() > value.size() || value.substr(value.size() - tail.size()) != tail) std::abort();
  if (value.substr(0, value.size() - tail.size()).find_first_not_of(':') != std::string_view::npos) std::abort();
}

void check_senders(std::string_view list, std::string_view sender) {
  bool expect = list.empty();
  std::string number;
  for (size_t i = 0; i <= list.size(); ++i) {
    if (i == list.size() || list[i] == ',') {
      if (!number.empty() && number == sender) expect = true;
      number.clear();
    } else {
      number += list[i];
    }
  }
  if (sms_sender_allowed(list, sender) != expect) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // SMS texts are short; long inputs only slow the search down.
  if (size > 4096) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view value = take_part(&rest);
  const std::string pattern(take_part(&rest));  // no NUL inside
  const std::string_view list = take_part(&rest);

  check_split(value);
  SmsText sms;
  if (sms_split(value, &sms)) {
    check_senders(list, sms.sender);
  } else {
    check_senders(list, value);
  }
  std::string error;
  const SmsMatch match = sms_match(pattern.c_str(), sms.message.empty() ? value : sms.message, &error);
  if (match == SmsMatch::kBadPattern && error.empty()) std::abort();
  if (match != SmsMatch::kBadPattern && !error.empty()) std::abort();
  return 0;
}
