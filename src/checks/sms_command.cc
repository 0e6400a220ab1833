// SMS command check: incoming SMS messages, published under one key for
// every SMS rule as the sender's number, a ':' and the text, trigger a rule
// when an allowed sender's text matches the rule's pattern. The rule has
// no resolve condition; while Triggered a message from an allowed sender
// only refreshes, and anyone else's is discarded as in Normal.
#include "checks/sms_command.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include <pcre.h>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kPhoneNumber = "sms.phone_number";

constexpr const char* kMessagePattern = "sms.message_pattern";

constexpr const char* kSmsKey = "config.sms.incoming";

// Bounds on one search. A message comes from anyone; without a recursion
// bound a long text could run PCRE's recursive matcher off the stack, and
// without a step bound a backtracking pattern could stall every rule.
constexpr unsigned long kMatchLimit = 100000;
constexpr unsigned long kRecursionLimit = 4000;

struct PcreDeleter {
  void operator()(pcre* re) const { pcre_free(re); }
};
using PcrePtr = std::unique_ptr<pcre, PcreDeleter>;

}  // namespace

std::string sms_sender(std::string_view value) {
  const size_t start = value.find_first_not_of(':');
  if (start == std::string_view::npos) return std::string();
  const size_t end = value.find(':', start);
  return std::string(value.substr(start, end == std::string_view::npos ? end : end - start));
}

bool sms_split(std::string_view value, SmsText* out) {
  const size_t start = value.find_first_not_of(':');
  if (start == std::string_view::npos) return false;
  const size_t colon = value.find(':', start);
  if (colon == std::string_view::npos || colon + 1 == value.size()) return false;
  out->sender.assign(value.substr(start, colon - start));
  out->message.assign(value.substr(colon + 1));
  return true;
}

bool sms_sender_allowed(std::string_view list, std::string_view sender) {
  if (list.empty()) return true;
  size_t pos = 0;
  while (pos <= list.size()) {
    const size_t comma = list.find(',', pos);
    const size_t end = comma == std::string_view::npos ? list.size() : comma;
    const std::string_view number = list.substr(pos, end - pos);
    if (!number.empty() && number == sender) return true;
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return false;
}

SmsMatch sms_match(const char* pattern, std::string_view message, std::string* error) {
  const char* compile_error = nullptr;
  int error_offset = 0;
  PcrePtr re(pcre_compile(pattern, 0, &compile_error, &error_offset, nullptr));
  if (!re) {
    if (error != nullptr) *error = compile_error != nullptr ? compile_error : "unknown error";
    return SmsMatch::kBadPattern;
  }
  if (message.size() > static_cast<size_t>(INT_MAX)) return SmsMatch::kNoMatch;
  // Room for every group of the pattern, so a match with many groups is
  // still reported as a match rather than as "vector too small".
  int groups = 0;
  if (pcre_fullinfo(re.get(), nullptr, PCRE_INFO_CAPTURECOUNT, &groups) != 0 || groups < 0) groups = 0;
  std::vector<int> offsets(static_cast<size_t>(groups + 1) * 3);
  pcre_extra limits{};
  limits.flags = PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION;
  limits.match_limit = kMatchLimit;
  limits.match_limit_recursion = kRecursionLimit;
  const int rc = pcre_exec(re.get(), &limits, message.data(), static_cast<int>(message.size()), 0, 0,
                           offsets.data(), static_cast<int>(offsets.size()));
  return rc >= 0 ? SmsMatch::kMatch : SmsMatch::kNoMatch;
}

namespace {

CheckOutcome sms_on_event(const ArCheck* check, const CheckEvent& event) {
  const std::string numbers = check_setting(check, kPhoneNumber);
  const std::string pattern = check_setting(check, kMessagePattern);
  if (check->state == kArTriggered) {
    // Nothing is matched while Triggered, but the current value decides
    // where a delayed reply goes ($CELLNUM) and what a script is told
    // ($AR_VAL): a sender the rule does not accept must not replace it.
    if (!sms_sender_allowed(numbers, sms_sender(event.value))) return outcome_drop();
    return outcome_refresh();
  }

  // Anyone can send the appliance an SMS: a malformed one is dropped, and
  // must not end the daemon along with every other rule's monitoring.
  SmsText sms;
  if (!sms_split(event.value, &sms)) {
    ar_log(kLogError, "Invalid SMS received: %s", event.value.c_str());
    return outcome_drop();
  }
  if (!sms_sender_allowed(numbers, sms.sender)) return outcome_drop();
  std::string error;
  switch (sms_match(pattern.c_str(), sms.message, &error)) {
    case SmsMatch::kBadPattern:
      ar_log(kLogError, "Failed to compile regex %s: error %s", pattern.c_str(), error.c_str());
      return outcome_drop();
    case SmsMatch::kNoMatch:
      return outcome_drop();
    case SmsMatch::kMatch:
      break;
  }
  return outcome_trigger("AR %s triggered. val %s received", check->conf.ar->path.c_str(), event.value.c_str());
}

int sms_describe_device(const ArCheck* /*check*/, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, "N/A");
  set_output(label, "SMS Command");
  set_output(dev_ref, "N/A");
  return 0;
}

// Every SMS rule listens to the same key, whatever its settings.
int sms_subscription_key(const ArCheck* /*check*/, std::string* key, CheckReason* /*reason*/) {
  if (key != nullptr) *key = kSmsKey;
  return 0;
}

// A pattern that does not compile drops every message the rule is sent.
void sms_audit(const ArCheck* check, AuditReport* report) {
  const std::string pattern = check_setting(check, kMessagePattern);
  const char* error = nullptr;
  int offset = 0;
  PcrePtr re(pcre_compile(pattern.c_str(), 0, &error, &offset, nullptr));
  if (re) return;
  report->error(audit_path(check, kMessagePattern),
                quoted(pattern) + " does not compile (" + (error != nullptr ? error : "unknown error") + " at offset " +
                    std::to_string(offset) + "), so the daemon discards every message for this rule; correct it");
}

// The message, the allowed numbers, the pattern.
int sms_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpTriggerOutputs, kSnmpTriggerOutputs, &d)) return -1;
  args->insert(args->end(), {*d.value, *d.property, *d.trigger});
  return 0;
}

// A reply goes to the sender of the message that triggered.
std::string sms_reply_to(const ArCheck* check) {
  return check->current_event ? sms_sender(check->current_event->value) : std::string();
}

const char* const kSmsSettings[] = {kPhoneNumber, kMessagePattern, nullptr};

}  // namespace

extern const CheckType kSmsCheck = {
    .name = "sms",
    .domain = "sms",
    .ops = {
        .on_event = sms_on_event,
        .describe_device = sms_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = sms_subscription_key,
        .snmp_args = sms_snmp_args,
        .audit = sms_audit,
        .reply_to = sms_reply_to,
    },
    .snmp_script = "sms-alert",
    .settings = kSmsSettings,
    .property = {.setting = kPhoneNumber},
    .trigger = {.setting = kMessagePattern},
};
