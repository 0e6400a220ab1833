// Alarm input check: one digital input (a pin) of one device. It triggers
// while the input holds the configured trigger value and resolves when the
// value changes away; configured to trigger on change, every update of the
// input triggers and the rule has no resolve condition.
#include <string>

#include "checks/check_type.h"
#include "checks/modules.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

namespace {

constexpr const char* kTriggerLine = "AR %s triggered. val %d vs trigger %d";

int alarm_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (!event) return 0;
  const char* path = check->conf.ar->path.c_str();
  const std::string pin = check_setting(check, "alarm.pin");
  const bool on_change = check_setting_flag(check, "alarm.trigger_on_change");
  const int32_t trigger = check_setting_size(check, "alarm.trigger_value");
  if (event->key.find(pin) == std::string::npos) return 0;
  const int32_t value = leading_int(event->value.c_str());
  const ArCheckState state = check->state;

  if (on_change) {
    // A Triggered input is triggered again: the state machine restarts
    // its time and offers the trigger actions anew.
    if (state != kArNormal && state != kArTriggered) return 0;
    ar_log(kLogInfo, kTriggerLine, path, value, trigger);
    ar_trigger(check, std::move(event));
    return 0;
  }
  if (value == trigger) {
    if (state == kArTriggered) {
      ar_refresh(check, std::move(event));
    } else if (state == kArNormal) {
      ar_log(kLogInfo, kTriggerLine, path, trigger, trigger);
      ar_trigger(check, std::move(event));
    }
    return 0;
  }
  if (state == kArTriggered) {
    ar_log(kLogInfo, "ar %s resolving. val %d vs %d", path, value, trigger);
    ar_resolve(check, std::move(event));
  }
  return 0;
}

int alarm_describe_device(ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, "alarm.dev_ref");
  const std::string pin = check_setting(check, "alarm.pin");
  set_output(device, check_setting_at(check, ref.c_str(), "name"));
  if (label != nullptr) {
    const std::string input = ref + ".alarms." + pin;
    set_output(label, check_setting_at(check, input.c_str(), "label"));
  }
  set_output(dev_ref, ref);
  return 0;
}

int alarm_describe_trigger(ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  if (check_setting_flag(check, "alarm.trigger_on_change")) {
    set_output(trigger, "N/A");
  } else {
    set_output(trigger, check_setting(check, "alarm.trigger_value"));
  }
  return 0;
}

int alarm_subscription_key(ArCheck* check, std::string* key) {
  const std::string pin = check_setting(check, "alarm.pin");
  const std::string dev_ref = check_setting(check, "alarm.dev_ref");
  if (pin.empty() || dev_ref.empty()) {
    ar_log(kLogFatal, "Invalid Alarm for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  if (key != nullptr) *key = dev_ref + "." + pin;
  return 0;
}

}  // namespace

const CheckOps kAlarmCheckOps = {
    alarm_on_event,
    alarm_describe_device,
    alarm_describe_trigger,
    alarm_subscription_key,
};
