// Serial pattern check: reports that a configured pattern was seen in the
// data sent to and/or received from a port. Matching happens elsewhere;
// every report routed here is a match. It only triggers.
#include <string>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/serial_port.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kPattern = "serial.pattern.pattern";
constexpr const char* kTriggerTx = "serial.pattern.trigger_tx";

constexpr const char* kTriggerRx = "serial.pattern.trigger_rx";

constexpr const char* kDomain = "serial.pattern";

CheckOutcome pattern_on_event(const ArCheck* check, const CheckEvent& event) {
  return trigger_when_normal(check, event);
}

int pattern_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  return serial_describe_device(check, kDomain, device, label, dev_ref);
}

int pattern_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason) {
  const bool on_tx = check_setting_flag(check, kTriggerTx);
  const bool on_rx = check_setting_flag(check, kTriggerRx);
  const bool has_pattern = check_setting(check, kPattern)[0] != '\0';
  const std::string port = serial_port_ref(check, kDomain);
  if (port.empty() || !has_pattern || (!on_tx && !on_rx)) {
    return refuse_settings(reason, kLogFatal, "Invalid serial port or pattern for AR: %s", check->conf.ar->name.c_str());
  }
  if (key == nullptr) return 0;
  // Numbered by the rule, not the reference: the pattern belongs to the
  // rule, whichever port reports it.
  *key = port + ".serial.event.pattern" + std::to_string(check->conf.ar->index);
  if (!on_rx) {
    *key += ".tx";
  } else if (!on_tx) {
    *key += ".rx";
  }
  return 0;
}

void pattern_audit(const ArCheck* check, AuditReport* report) {
  serial_audit_port(check, kDomain, report);
  audit_required(check, kPattern, no_subscription("set the pattern to look for"), report);
  audit_flag(check, kTriggerTx, report);
  audit_flag(check, kTriggerRx, report);
  if (!check_setting_flag(check, kTriggerTx) && !check_setting_flag(check, kTriggerRx)) {
    report->error(audit_path(check, kDomain), "neither trigger_tx nor trigger_rx is on, so " +
                                                  no_subscription("turn on the direction to watch"));
  }
}

// Rule name, port number, port label, the matched text.
int pattern_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpDevice | kSnmpDevRef | kSnmpValue, kSnmpDevice | kSnmpValue, &d)) return -1;
  args->insert(args->end(), {check->conf.ar->name, std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *d.value});
  return 0;
}

const char* const kSerialPatternSettings[] = {
    kPattern, kTriggerTx, kTriggerRx, "serial.pattern.dev_refs.dev_ref#", nullptr,
};

}  // namespace

extern const CheckType kSerialPatternCheck = {
    .name = "serial_pattern",
    .domain = "serial.pattern",
    .ops = {
        .on_event = pattern_on_event,
        .describe_device = pattern_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = pattern_subscription_key,
        .snmp_args = pattern_snmp_args,
        .audit = pattern_audit,
    },
    .snmp_script = "portmanager-pattern-alert",
    .settings = kSerialPatternSettings,
    .property = {.fixed = "N/A"},
    .trigger = {.setting = kPattern},
};
