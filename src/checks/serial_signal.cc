// Serial signal check: the level of one modem-control signal of a port,
// triggering when it reaches the configured value and resolving when it
// leaves it, or triggering on every reported change.
#include <strings.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/level.h"
#include "checks/serial_port.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kSignal = "serial.signal.signal";
constexpr const char* kTriggerVal = "serial.signal.trigger_val";

constexpr const char* kTriggerOnChange = "serial.signal.trigger_on_change";

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

CheckOutcome signal_on_event(const ArCheck* check, const CheckEvent& event) {
  const std::string signal = check_setting(check, kSignal);
  const bool on_change = check_setting_flag(check, kTriggerOnChange);
  const int32_t trigger = check_setting_size(check, kTriggerVal);
  // The key names the signal exactly as configured, case included.
  if (event.key.find(signal) == std::string::npos) return outcome_drop();
  return level_outcome(check, leading_int(event.value.c_str()), trigger, on_change);
}

int signal_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  return serial_describe_device(check, kDomain, device, label, dev_ref);
}

int signal_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, signal_number(check_setting(check, kSignal)));
  if (check_setting_flag(check, kTriggerOnChange)) {
    set_output(trigger, "N/A");
  } else {
    set_output(trigger, check_setting(check, kTriggerVal));
  }
  return 0;
}

int signal_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason) {
  const std::string signal = check_setting(check, kSignal);
  const std::string port = serial_port_ref(check, kDomain);
  if (signal.empty() || port.empty()) {
    return refuse_settings(reason, kLogFatal, "Invalid serial port or signal for AR: %s", check->conf.ar->name.c_str());
  }
  if (key != nullptr) *key = port + ".serial.event.signal." + signal;
  return 0;
}

void signal_audit(const ArCheck* check, AuditReport* report) {
  serial_audit_port(check, kDomain, report);
  if (audit_required(check, kSignal, no_subscription("set cts, dcd or dsr"), report)) {
    std::vector<std::string> names;
    for (const SignalNumber& s : kSignalNumbers) names.emplace_back(s.name);
    audit_choice(report, audit_path(check, kSignal), check_setting(check, kSignal), names,
                 "a signal", "no port reports it and the rule never triggers");
  }
  audit_whole_number(check, kTriggerVal, report);
  audit_flag(check, kTriggerOnChange, report);
}

// Port number, port label, signal number, level, trigger value.
int signal_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  const unsigned wanted = kSnmpDevice | kSnmpDevRef | kSnmpTriggerOutputs;
  if (!snmp_describe(check, wanted, kSnmpDevice | kSnmpValue | kSnmpProperty, &d)) return -1;
  args->insert(args->end(),
               {std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *d.property, *d.value, *d.trigger});
  return 0;
}

const char* const kSerialSignalSettings[] = {
    kSignal, kTriggerVal, kTriggerOnChange, "serial.signal.dev_refs.dev_ref#", nullptr,
};

}  // namespace

extern const CheckType kSerialSignalCheck = {
    .name = "serial_signal",
    .domain = "serial.signal",
    .has_resolve = true,
    .level = true,
    .on_change_flag = kTriggerOnChange,
    .ops = {
        .on_event = signal_on_event,
        .describe_device = signal_describe_device,
        .describe_trigger = signal_describe_trigger,
        .subscription_key = signal_subscription_key,
        .snmp_args = signal_snmp_args,
        .audit = signal_audit,
    },
    .snmp_script = "portmanager-signal-alert",
    .settings = kSerialSignalSettings,
};
