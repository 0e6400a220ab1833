// Web UI login event check: logins, logouts and authentication errors of the
// web UI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kTriggerLogin = "webui_login.trigger_login";
constexpr const char* kTriggerLogout = "webui_login.trigger_logout";

constexpr const char* kTriggerAuthError = "webui_login.trigger_auth_error";

const LoginEventNames kWebuiLoginNames = {kTriggerLogin, kTriggerLogout, kTriggerAuthError, "config.webui.auth_event"};

CheckOutcome webui_login_on_event(const ArCheck* check, const CheckEvent& event) {
  return login_on_event(check, event, kWebuiLoginNames);
}

void webui_login_audit(const ArCheck* check, AuditReport* report) {
  login_event_audit(check, kWebuiLoginNames, report);
}

int webui_login_subscription_key(const ArCheck* check, std::string* key, CheckReason* /*reason*/) {
  return login_subscription_key(check, kWebuiLoginNames, key);
}

// Event, user, address, detail.
int webui_login_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpTriggerOutputs, kSnmpValue | kSnmpProperty, &d)) return -1;
  const WebLoginFields fields = parse_web_login(*d.value);
  args->insert(args->end(), {fields.event, fields.user, fields.address, fields.detail});
  return 0;
}

const char* const kWebuiLoginSettings[] = {kTriggerLogin, kTriggerLogout, kTriggerAuthError, nullptr};

}  // namespace

extern const CheckType kWebuiLoginCheck = {
    .name = "webui_login",
    .domain = "webui_login",
    .ops = {
        .on_event = webui_login_on_event,
        .describe_device = login_describe_device,
        .describe_trigger = login_describe_trigger,
        .subscription_key = webui_login_subscription_key,
        .snmp_args = webui_login_snmp_args,
        .audit = webui_login_audit,
    },
    .snmp_script = "webui-user-alert",
    .settings = kWebuiLoginSettings,
};
