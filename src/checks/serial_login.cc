// Serial login check: user logins and/or logouts on a port. It only
// triggers; the state machine ends the Triggered state by itself.
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
constexpr const char* kTriggerLogin = "serial.login.trigger_login";

constexpr const char* kTriggerLogout = "serial.login.trigger_logout";

constexpr const char* kDomain = "serial.login";

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

CheckOutcome login_on_event(const ArCheck* check, const CheckEvent& event) {
  const bool on_login = check_setting_flag(check, kTriggerLogin);
  const bool on_logout = check_setting_flag(check, kTriggerLogout);
  // "logout" does not contain "login": a logout matches only its own flag.
  const bool matches = (on_login && contains(event.key, "login")) || (on_logout && contains(event.key, "logout"));
  return matches ? trigger_when_normal(check, event) : outcome_drop();
}

int login_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  return serial_describe_device(check, kDomain, device, label, dev_ref);
}

int login_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!check->current_event) return -1;
  const CheckEvent& event = *check->current_event;
  set_output(value, std::string(contains(event.key, "login") ? "LOGIN" : "LOGOUT") + ": " + event.value);
  set_output(property, "N/A");
  set_output(trigger, "N/A");
  return 0;
}

int login_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason) {
  const bool on_login = check_setting_flag(check, kTriggerLogin);
  const bool on_logout = check_setting_flag(check, kTriggerLogout);
  const std::string port = serial_port_ref(check, kDomain);
  if (port.empty() || (!on_login && !on_logout)) {
    return refuse_settings(reason, kLogFatal, "Invalid serial port or trigger settings for AR: %s",
                           check->conf.ar->name.c_str());
  }
  if (key == nullptr) return 0;
  *key = port + ".serial.event.user";
  if (!on_logout) {
    *key += ".login";
  } else if (!on_login) {
    *key += ".logout";
  }
  return 0;
}

void login_audit(const ArCheck* check, AuditReport* report) {
  serial_audit_port(check, kDomain, report);
  audit_flag(check, kTriggerLogin, report);
  audit_flag(check, kTriggerLogout, report);
  if (!check_setting_flag(check, kTriggerLogin) && !check_setting_flag(check, kTriggerLogout)) {
    report->error(audit_path(check, kDomain),
                  "neither trigger_login nor trigger_logout is on, so " + no_subscription("turn one on"));
  }
}

// "LOGIN: root" gives LOGIN, the port number, the port label and root.
int login_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpDevice | kSnmpDevRef | kSnmpValue, kSnmpDevice | kSnmpValue, &d)) return -1;
  FieldCursor words(*d.value);
  const std::optional<std::string> first = split_fields(&words, ": ");
  const std::optional<std::string> second = split_fields(&words, " ");
  if (!first || !second) return -1;
  args->insert(args->end(), {*first, std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *second});
  return 0;
}

const char* const kSerialLoginSettings[] = {kTriggerLogin, kTriggerLogout, "serial.login.dev_refs.dev_ref#", nullptr};

}  // namespace

extern const CheckType kSerialLoginCheck = {
    .name = "serial_login",
    .domain = "serial.login",
    .ops = {
        .on_event = login_on_event,
        .describe_device = login_describe_device,
        .describe_trigger = login_describe_trigger,
        .subscription_key = login_subscription_key,
        .snmp_args = login_snmp_args,
        .audit = login_audit,
    },
    .snmp_script = "portmanager-user-alert",
    .settings = kSerialLoginSettings,
};
