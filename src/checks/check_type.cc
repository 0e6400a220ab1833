// The list of check kinds and the helpers every check module shares.
#include "checks/check_type.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

CheckOutcome formatted(CheckOutcomeKind kind, const char* format, va_list args) {
  return CheckOutcome{kind, format_text(format, args)};
}

}  // namespace

const char* check_outcome_name(CheckOutcomeKind kind) {
  switch (kind) {
    case CheckOutcomeKind::kDrop: return "drop";
    case CheckOutcomeKind::kTrigger: return "trigger";
    case CheckOutcomeKind::kResolve: return "resolve";
    case CheckOutcomeKind::kRefresh: return "refresh";
    case CheckOutcomeKind::kNotReading: return "not a reading";
  }
  return "drop";
}

CheckOutcome outcome_drop() { return CheckOutcome{}; }

CheckOutcome outcome_refresh() { return CheckOutcome{CheckOutcomeKind::kRefresh, std::string()}; }

CheckOutcome outcome_trigger(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CheckOutcome outcome = formatted(CheckOutcomeKind::kTrigger, format, args);
  va_end(args);
  return outcome;
}

CheckOutcome outcome_resolve(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CheckOutcome outcome = formatted(CheckOutcomeKind::kResolve, format, args);
  va_end(args);
  return outcome;
}

CheckOutcome outcome_not_reading(const char* format, ...) {
  va_list args;
  va_start(args, format);
  CheckOutcome outcome = formatted(CheckOutcomeKind::kNotReading, format, args);
  va_end(args);
  return outcome;
}

// Each kind's descriptor is defined in its own file; this list is the
// only other place that names it.
extern const CheckType kEnviroCheck;
extern const CheckType kPowerCheck;
extern const CheckType kSerialSignalCheck;
extern const CheckType kSerialLoginCheck;
extern const CheckType kSerialPatternCheck;
extern const CheckType kUpsStateCheck;
extern const CheckType kAlarmCheck;
extern const CheckType kCustomCheck;
extern const CheckType kPingCheck;
extern const CheckType kNetTcpCheck;
extern const CheckType kSmsCheck;
extern const CheckType kCelldataCheck;
extern const CheckType kWebuiLoginCheck;
extern const CheckType kUsbConsoleCheck;
extern const CheckType kNetInterfaceCheck;
extern const CheckType kRouteddataCheck;
extern const CheckType kCliLoginCheck;

// One line per kind, in the order the "check_type" names have always been
// compared.
const CheckType* const kCheckTypes[] = {
    &kEnviroCheck,
    &kPowerCheck,
    &kSerialSignalCheck,
    &kSerialLoginCheck,
    &kSerialPatternCheck,
    &kUpsStateCheck,
    &kAlarmCheck,
    &kCustomCheck,
    &kPingCheck,
    &kNetTcpCheck,
    &kSmsCheck,
    &kCelldataCheck,
    &kWebuiLoginCheck,
    &kUsbConsoleCheck,
    &kNetInterfaceCheck,
    &kRouteddataCheck,
    &kCliLoginCheck,
    nullptr,
};

const CheckType* check_type_named(const char* name) {
  for (const CheckType* const* t = kCheckTypes; *t != nullptr; ++t) {
    if (strcmp(name, (*t)->name) == 0) return *t;
  }
  return nullptr;
}

const char* check_setting_at(const ArCheck* check, const char* prefix, const char* key) {
  return xmldb_getstring(check->conf.ar->config_db, prefix, key);
}

const char* check_setting(const ArCheck* check, const char* key) {
  return xmldb_getstring(check->conf.ar->config_db, check->conf.ar->path().c_str(), key);
}

int32_t check_setting_size(const ArCheck* check, const char* key) {
  return xmldb_getsize(check->conf.ar->config_db, check->conf.ar->path().c_str(), key);
}

bool check_setting_flag(const ArCheck* check, const char* key) {
  return xmldb_getbool(check->conf.ar->config_db, check->conf.ar->path().c_str(), key) != 0;
}

void set_output(OptionalText* out, std::string text) {
  if (out != nullptr) *out = std::move(text);
}

bool current_value(const ArCheck* check, OptionalText* out) {
  if (!check->current_event) return false;
  set_output(out, check->current_event->value);
  return true;
}

CheckOutcome trigger_when_normal(const ArCheck* check, const CheckEvent& event) {
  if (check->state != kArNormal) return outcome_drop();
  return outcome_trigger("AR %s triggered. val %s", check->conf.ar->path().c_str(), event.value.c_str());
}

namespace {

std::string kind_text(const ArCheck* check, const KindText& text) {
  if (text.setting != nullptr) return check_setting(check, text.setting);
  return text.fixed != nullptr ? text.fixed : "";
}

}  // namespace

int describe_trigger_by_kind(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  const CheckType* kind = check->conf.ar->kind;
  if (!current_value(check, value)) return -1;
  set_output(property, kind_text(check, kind->property));
  // A rule that triggers on every change has no value to trigger at.
  if (kind->on_change_flag != nullptr && check_setting_flag(check, kind->on_change_flag)) {
    set_output(trigger, "N/A");
  } else {
    set_output(trigger, kind_text(check, kind->trigger));
  }
  return 0;
}

int subscription_key_by_kind(const ArCheck* check, std::string* key, CheckReason* reason) {
  const KeyRecipe& recipe = check->conf.ar->kind->key;
  const std::string head = recipe.head != nullptr ? check_setting(check, recipe.head) : check->conf.ar->path().str();
  const std::string tail = recipe.tail != nullptr ? check_setting(check, recipe.tail) : std::string();
  if (head.empty() || (recipe.tail != nullptr && tail.empty())) {
    return refuse_settings(reason, kLogFatal, "Invalid %s for AR: %s", recipe.invalid, check->conf.ar->name.c_str());
  }
  if (key != nullptr) *key = head + recipe.joint + tail;
  return 0;
}

int refuse_settings(CheckReason* reason, int priority, const char* format, ...) {
  if (reason == nullptr) return -1;
  va_list args;
  va_start(args, format);
  reason->priority = priority;
  reason->text = format_text(format, args);
  va_end(args);
  return -1;
}
