// Custom script check: the result code of a check script that another
// component runs and publishes under the rule's own path. Any code other
// than the configured good code (0 when none is set) triggers; the good
// code again resolves.
#include <string>

#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/level.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kScript = "custom.script";

constexpr const char* kTriggerCode = "custom.trigger_code";

CheckOutcome custom_on_event(const ArCheck* check, const CheckEvent& event) {
  const int32_t good = leading_int(check_setting(check, kTriggerCode));
  return result_code_outcome(check, leading_int(event.value.c_str()), good);
}

int custom_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, "name"));
  set_output(label, "Custom Script");
  set_output(dev_ref, check->conf.ar->path());
  return 0;
}

// The script runner publishes its result under the rule's own path.
void custom_audit(const ArCheck* check, AuditReport* report) { audit_whole_number(check, kTriggerCode, report); }

// The check script, its result, the good code.
int custom_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpValue | kSnmpTrigger, kSnmpValue, &d)) return -1;
  const std::string script = check_setting(check, kScript);
  args->insert(args->end(), {script, *d.value, *d.trigger});
  return 0;
}

const char* const kCustomSettings[] = {kScript, kTriggerCode, nullptr};

}  // namespace

extern const CheckType kCustomCheck = {
    .name = "custom",
    .domain = "custom",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = custom_on_event,
        .describe_device = custom_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = subscription_key_by_kind,
        .snmp_args = custom_snmp_args,
        .audit = custom_audit,
    },
    .snmp_script = "custom-alert",
    .settings = kCustomSettings,
    .property = {.fixed = "N/A"},
    .trigger = {.setting = kTriggerCode},
    .key = {.joint = ".check.status"},
};
