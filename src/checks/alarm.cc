// Alarm input check: one digital input (a pin) of one device. It triggers
// while the input holds the configured trigger value and resolves when the
// value changes away; configured to trigger on change, every update of the
// input triggers and the rule has no resolve condition.
#include <string>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/level.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kDevRef = "alarm.dev_ref";
constexpr const char* kPin = "alarm.pin";
constexpr const char* kTriggerValue = "alarm.trigger_value";

constexpr const char* kTriggerOnChange = "alarm.trigger_on_change";

CheckOutcome alarm_on_event(const ArCheck* check, const CheckEvent& event) {
  const std::string pin = check_setting(check, kPin);
  const bool on_change = check_setting_flag(check, kTriggerOnChange);
  const int32_t trigger = check_setting_size(check, kTriggerValue);
  if (event.key.find(pin) == std::string::npos) return outcome_drop();
  return level_outcome(check, leading_int(event.value.c_str()), trigger, on_change);
}

int alarm_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, kDevRef);
  const std::string pin = check_setting(check, kPin);
  set_output(device, check_setting_at(check, ref.c_str(), "name"));
  if (label != nullptr) {
    const std::string input = ref + ".alarms." + pin;
    set_output(label, check_setting_at(check, input.c_str(), "label"));
  }
  set_output(dev_ref, ref);
  return 0;
}

void alarm_audit(const ArCheck* check, AuditReport* report) {
  if (audit_required(check, kDevRef, no_subscription("name the device that has the input"), report)) {
    audit_device(check, kDevRef, 0, "device", report);
  }
  audit_required(check, kPin, no_subscription("name the input"), report);
  audit_whole_number(check, kTriggerValue, report);
  audit_flag(check, kTriggerOnChange, report);
}

// Label, value, the value validated to 0, 1 or -1, device.
int alarm_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  const unsigned outputs = kSnmpDevice | kSnmpLabel | kSnmpValue;
  if (!snmp_describe(check, outputs, outputs, &d)) return -1;
  std::string validated = *d.value;
  if (validated != "0" && validated != "1") {
    ar_log(kLogError, "DIO value should be 0 or 1: %s", d.value->c_str());
    validated = "-1";
  }
  args->insert(args->end(), {*d.label, *d.value, validated, *d.device});
  return 0;
}

const char* const kAlarmSettings[] = {kDevRef, kPin, kTriggerValue, kTriggerOnChange, nullptr};

}  // namespace

extern const CheckType kAlarmCheck = {
    .name = "alarm",
    .domain = "alarm",
    .has_resolve = true,
    .level = true,
    .on_change_flag = kTriggerOnChange,
    .ops = {
        .on_event = alarm_on_event,
        .describe_device = alarm_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = subscription_key_by_kind,
        .snmp_args = alarm_snmp_args,
        .audit = alarm_audit,
    },
    .snmp_script = "dio-alert",
    .settings = kAlarmSettings,
    .property = {.fixed = "N/A"},
    .trigger = {.setting = kTriggerValue},
    .key = {.head = kDevRef, .joint = ".", .tail = kPin, .invalid = "Alarm"},
};
