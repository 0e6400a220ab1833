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

CheckOutcome custom_on_event(const ArCheck* check, const CheckEvent& event) {
  const int32_t good = leading_int(check_setting(check, "custom.trigger_code"));
  return result_code_outcome(check, leading_int(event.value.c_str()), good);
}

int custom_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, "name"));
  set_output(label, "Custom Script");
  set_output(dev_ref, check->conf.ar->path);
  return 0;
}

int custom_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  set_output(trigger, check_setting(check, "custom.trigger_code"));
  return 0;
}

// The script runner publishes its result under the rule's own path.
int custom_subscription_key(const ArCheck* check, std::string* key) {
  if (key != nullptr) *key = check->conf.ar->path + ".check.status";
  return 0;
}

void custom_audit(const ArCheck* check, AuditReport* report) { audit_whole_number(check, "custom.trigger_code", report); }

// The check script, its result, the good code.
int custom_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpValue | kSnmpTrigger, kSnmpValue, &d)) return -1;
  const std::string script = check_setting(check, "custom.script");
  args->insert(args->end(), {script, *d.value, *d.trigger});
  return 0;
}

const char* const kCustomSettings[] = {"custom.script", "custom.trigger_code", nullptr};

}  // namespace

extern const CheckType kCustomCheck;
const CheckType kCustomCheck = {
    "custom",  // name
    "custom",  // domain
    true,  // has_resolve
    nullptr,  // on_change_flag
    {
        custom_on_event,  // on_event
        nullptr,  // trigger_counter
        custom_describe_device,  // describe_device
        custom_describe_trigger,  // describe_trigger
        custom_subscription_key,  // subscription_key
        custom_snmp_args,  // snmp_args
        custom_audit,  // audit
        nullptr,  // reply_to
    },
    "custom-alert",  // snmp_script
    kCustomSettings,
    nullptr,  // threshold
};
