// Serial signal check: the level of one modem-control signal of a port,
// triggering when it reaches the configured value and resolving when it
// leaves it, or triggering on every reported change.
#include <strings.h>

#include <cstdint>
#include <string>

#include "checks/check_type.h"
#include "checks/modules.h"
#include "checks/serial_port.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

namespace {

constexpr const char* kDomain = "serial.signal";

// The number each signal is reported as; any other name reports "0".
struct SignalNumber {
  const char* name;
  const char* number;
};

const SignalNumber kSignalNumbers[] = {
    {"cts", "1"},
    {"dcd", "2"},
    {"dsr", "3"},
};

const char* signal_number(const char* name) {
  for (const SignalNumber& s : kSignalNumbers) {
    if (strcasecmp(name, s.name) == 0) return s.number;
  }
  return "0";
}

int signal_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (!event) return 0;
  const char* path = check->conf.ar->path.c_str();
  const std::string signal = check_setting(check, "serial.signal.signal");
  const bool on_change = check_setting_flag(check, "serial.signal.trigger_on_change");
  const int32_t trigger = check_setting_size(check, "serial.signal.trigger_val");
  // The key names the signal exactly as configured, case included.
  if (event->key.find(signal) == std::string::npos) return 0;
  const int32_t level = leading_int(event->value.c_str());

  if (check->state != kArNormal && check->state != kArTriggered) return 0;
  if (on_change) {
    // Every change is news: a reference still Triggered triggers again.
    ar_log(kLogInfo, "AR %s triggered. val %d vs trigger %d", path, level, trigger);
    ar_trigger(check, std::move(event));
    return 0;
  }
  if (level == trigger) {
    if (check->state == kArNormal) {
      ar_log(kLogInfo, "AR %s triggered. val %d vs trigger %d", path, trigger, trigger);
      ar_trigger(check, std::move(event));
    } else {
      ar_refresh(check, std::move(event));
    }
  } else if (check->state == kArTriggered) {
    ar_log(kLogInfo, "ar %s resolving. val %d vs %d", path, level, trigger);
    ar_resolve(check, std::move(event));
  }
  return 0;
}

int signal_describe_device(ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  return serial_describe_device(check, kDomain, device, label, dev_ref);
}

int signal_describe_trigger(ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, signal_number(check_setting(check, "serial.signal.signal")));
  if (check_setting_flag(check, "serial.signal.trigger_on_change")) {
    set_output(trigger, "N/A");
  } else {
    set_output(trigger, check_setting(check, "serial.signal.trigger_val"));
  }
  return 0;
}

int signal_subscription_key(ArCheck* check, std::string* key) {
  const std::string signal = check_setting(check, "serial.signal.signal");
  const std::string port = serial_port_ref(check, kDomain);
  if (signal.empty() || port.empty()) {
    ar_log(kLogFatal, "Invalid serial port or signal for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  if (key != nullptr) *key = port + ".serial.event.signal." + signal;
  return 0;
}

}  // namespace

const CheckOps kSerialSignalCheckOps = {
    signal_on_event,
    signal_describe_device,
    signal_describe_trigger,
    signal_subscription_key,
};
