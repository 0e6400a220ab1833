// Web UI login event check: logins, logouts and authentication errors of the
// web UI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/modules.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"

namespace {

CheckOutcome webui_login_on_event(const ArCheck* check, const CheckEvent& event) {
  return login_on_event(check, event, kWebuiLoginNames);
}

void webui_login_audit(const ArCheck* check, AuditReport* report) {
  login_event_audit(check, kWebuiLoginNames, report);
}

int webui_login_subscription_key(const ArCheck* check, std::string* key) {
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

}  // namespace

const CheckOps kWebuiLoginCheckOps = {
    webui_login_on_event,
    nullptr,
    login_describe_device,
    login_describe_trigger,
    webui_login_subscription_key,
    "webui-user-alert",
    webui_login_snmp_args,
    webui_login_audit,
};
