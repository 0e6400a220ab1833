// CLI login event check: logins, logouts and authentication errors of the
// CLI, on the shared login event design.
#include "base/log.h"
#include "checks/login_event.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kTriggerLogin = "cli_login.trigger_login";
constexpr const char* kTriggerLogout = "cli_login.trigger_logout";

constexpr const char* kTriggerAuthError = "cli_login.trigger_auth_error";

const LoginEventNames kCliLoginNames = {kTriggerLogin, kTriggerLogout, kTriggerAuthError, "config.pam.auth_event"};

CheckOutcome cli_login_on_event(const ArCheck* check, const CheckEvent& event) {
  return login_on_event(check, event, kCliLoginNames);
}

void cli_login_audit(const ArCheck* check, AuditReport* report) {
  login_event_audit(check, kCliLoginNames, report);
}

int cli_login_subscription_key(const ArCheck* check, std::string* key, CheckReason* /*reason*/) {
  return login_subscription_key(check, kCliLoginNames, key);
}

// The label of a CLI service in the alert; services without one are not
// reported.
struct CliServiceLabel {
  const char* service;
  const char* label;
};

// For "LOGIN" and "LOGOUT" events.
const CliServiceLabel kCliLoginLabels[] = {
    {"sshd", "SSH Service"},
    {"login", "CLI Shell"},
    {nullptr, nullptr},
};

// For "AUTH ERROR" events.
const CliServiceLabel kCliErrorLabels[] = {
    {"sshd", "SSH Service"},
    {"login", "Login Prompt"},
    {nullptr, nullptr},
};

// The label of service in table; null when the service has none.
const char* cli_label(const CliServiceLabel* table, const std::optional<std::string>& service) {
  if (table == nullptr || !service) return nullptr;
  for (const CliServiceLabel* row = table; row->service != nullptr; ++row) {
    if (*service == row->service) return row->label;
  }
  return nullptr;
}

// Event, user, service label, the rest. CLI events are reported only for
// the known services, and not for the appliance's own port-manager shell.
int cli_login_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpTriggerOutputs, kSnmpValue | kSnmpProperty, &d)) return -1;
  const CliLoginFields fields = parse_cli_login(*d.value);
  const CliServiceLabel* table = nullptr;
  if (fields.event == "LOGIN" || fields.event == "LOGOUT") {
    table = kCliLoginLabels;
  } else if (fields.event == "AUTH ERROR") {
    table = kCliErrorLabels;
  }
  const char* label = cli_label(table, fields.service);
  if (label == nullptr || (fields.program && *fields.program == "/bin/pmshell")) {
    ar_log(kLogInfo, "Filtering CLI event %s for service %s", fields.event.c_str(),
           fields.service ? fields.service->c_str() : "");
    return 1;
  }
  args->insert(args->end(), {fields.event, fields.user, label, fields.rest});
  return 0;
}

const char* const kCliLoginSettings[] = {kTriggerLogin, kTriggerLogout, kTriggerAuthError, nullptr};

}  // namespace

extern const CheckType kCliLoginCheck = {
    .name = "cli_login",
    .domain = "cli_login",
    .ops = {
        .on_event = cli_login_on_event,
        .describe_device = login_describe_device,
        .describe_trigger = login_describe_trigger,
        .subscription_key = cli_login_subscription_key,
        .snmp_args = cli_login_snmp_args,
        .audit = cli_login_audit,
    },
    .snmp_script = "cli-user-alert",
    .settings = kCliLoginSettings,
};
