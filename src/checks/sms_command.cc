// SMS command check: incoming SMS messages, published under one key for
// every SMS rule as the sender's number, a ':' and the text, trigger a rule
// when an allowed sender's text matches the rule's pattern. The rule has
// no resolve condition; while Triggered a message from an allowed sender
// only refreshes, and anyone else's is discarded as in Normal.
#include "checks/sms_command.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The 8-bit library: patterns and messages are bytes.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

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

// Bounds on one search. A message comes from anyone; without a depth
// bound a long text could make the matcher keep a backtracking frame per
// character, and without a step bound a backtracking pattern could stall
// every rule. The heap bound (in KiB) caps what those frames may take: a
// frame holds room for every group, and a pattern may have thousands.
constexpr uint32_t kMatchLimit = 100000;
constexpr uint32_t kDepthLimit = 4000;
constexpr uint32_t kHeapLimitKib = 16 * 1024;

// Rules' patterns were written for PCRE, which the check used before
// PCRE2, and keep their meaning. Both compile with no options: no UTF,
// case-sensitive, newline as the library was built (LF on Debian). PCRE2
// is also given PCRE2_EXTRA_ALLOW_LOOKAROUND_BSK, since PCRE took \K in a
// lookaround assertion and PCRE2 10.38 and later refuse it. The search
// runs in the interpreter, as PCRE's did, never in the JIT, whose limits
// count differently. compile() below takes back two more refusals.
constexpr uint32_t kExtraOptions = PCRE2_EXTRA_ALLOW_LOOKAROUND_BSK;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;

// Why a pattern does not compile: PCRE2's text and the offset where it
// found the fault.
struct CompileError {
  std::string text;
  size_t offset = 0;
};

// The compiled pattern; null with the reason in *error. Two things that
// PCRE took and PCRE2 refuses are plausible in a rule, and are given
// PCRE's meaning: a backslash before a letter that means nothing ("\i")
// is that letter, which PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL does; it is set
// only for a pattern PCRE2 refuses for such an escape, since it would
// also make literal the escapes that PCRE refused (\x{100}, \u, \L). And
// a hyphen after a class such as \w or [:digit:] in a character class
// ("[\w-.]") is a hyphen: it is escaped, and the pattern compiled again.
Code compile(const char* pattern, CompileError* error) {
  const std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(pcre2_compile_context_create(nullptr));
  if (!context) {
    error->text = "no memory to compile the pattern";
    return nullptr;
  }
  std::string text(pattern);
  std::vector<size_t> escaped;  // the backslashes put before hyphens, where they are in text
  uint32_t extra = kExtraOptions;
  for (;;) {
    int code = 0;
    PCRE2_SIZE offset = 0;
    pcre2_set_compile_extra_options(context.get(), extra);
    Code re(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.c_str()), PCRE2_ZERO_TERMINATED, 0, &code, &offset,
                          context.get()));
    if (re) return re;
    if (code == PCRE2_ERROR_UNKNOWN_ESCAPE && (extra & PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL) == 0) {
      extra |= PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL;
      continue;
    }
    // PCRE2 10.42 places the fault at the hyphen, later releases after it.
    const size_t hyphen = offset < text.size() && text[offset] == '-' ? offset : offset - 1;
    // Each hyphen is escaped once at most: the pattern's length bounds the tries.
    if (code == PCRE2_ERROR_CLASS_INVALID_RANGE && hyphen < text.size() && text[hyphen] == '-' &&
        escaped.size() < text.size()) {
      for (size_t& at : escaped) at += at >= hyphen ? 1 : 0;
      text.insert(hyphen, 1, '\\');
      escaped.push_back(hyphen);
      continue;
    }
    PCRE2_UCHAR message[256];
    error->text = pcre2_get_error_message(code, message, sizeof message) < 0
                      ? "unknown error"
                      : reinterpret_cast<const char*>(message);
    // The offset in the pattern as written.
    error->offset = offset;
    for (size_t at : escaped) error->offset -= at < offset ? 1 : 0;
    return nullptr;
  }
}

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

bool sms_pattern_compiles(const char* pattern, std::string* error, size_t* offset) {
  CompileError fault;
  if (compile(pattern, &fault)) return true;
  if (error != nullptr) *error = fault.text;
  if (offset != nullptr) *offset = fault.offset;
  return false;
}

SmsMatch sms_match(const char* pattern, std::string_view message, std::string* error) {
  CompileError fault;
  const Code re = compile(pattern, &fault);
  if (!re) {
    if (error != nullptr) *error = fault.text;
    return SmsMatch::kBadPattern;
  }
  const std::unique_ptr<pcre2_match_context, MatchContextDeleter> context(pcre2_match_context_create(nullptr));
  // Room for every group of the pattern, so a match with many groups is
  // still reported as a match.
  const std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(re.get(), nullptr));
  if (!context || !data || pcre2_set_match_limit(context.get(), kMatchLimit) != 0 ||
      pcre2_set_depth_limit(context.get(), kDepthLimit) != 0 ||
      pcre2_set_heap_limit(context.get(), kHeapLimitKib) != 0) {
    return SmsMatch::kNoMatch;
  }
  const int rc = pcre2_match(re.get(), reinterpret_cast<PCRE2_SPTR>(message.data()), message.size(), 0, 0,
                             data.get(), context.get());
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
  return outcome_trigger("AR %s triggered. val %s received", check->conf.ar->path().c_str(), event.value.c_str());
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
  std::string error;
  size_t offset = 0;
  if (sms_pattern_compiles(pattern.c_str(), &error, &offset)) return;
  report->error(audit_path(check, kMessagePattern),
                quoted(pattern) + " does not compile (" + error + " at offset " + std::to_string(offset) +
                    "), so the daemon discards every message for this rule; correct it");
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
