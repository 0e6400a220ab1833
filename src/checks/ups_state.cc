// UPS state check: a UPS's status text, triggering when it equals the
// configured condition and resolving when the UPS is back "online".
#include <string>
#include <vector>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kDevRef = "ups.state.dev_ref";

constexpr const char* kTriggerCond = "ups.state.trigger_cond";

constexpr const char* kOnline = "online";

// The statuses a UPS reports: what a trigger condition can name.
const std::vector<std::string> kUpsConditions = {"onbatt", "lowbatt", "fsd",     "commbad", "nocomm",
                                                 "replbatt", "shutdown", "commok", "online"};

CheckOutcome ups_on_event(const ArCheck* check, const CheckEvent& event) {
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  const std::string condition = check_setting(check, kTriggerCond);
  if (event.key.find("event.status") == std::string::npos) return outcome_drop();
  const std::string& status = event.value;
  const bool triggered = check->state == kArTriggered;
  // The condition is tested first: a rule waiting for "online" triggers on
  // it and so never resolves by itself.
  if (status == condition) {
    if (triggered) return outcome_refresh();
    return outcome_trigger("AR %s triggered. val %s vs trigger %s", path, status.c_str(), condition.c_str());
  }
  if (!triggered) return outcome_drop();
  if (status != kOnline) return outcome_refresh();
  return outcome_resolve("ar %s resolving. val %s vs %s", path, status.c_str(), condition.c_str());
}

int ups_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, kDevRef);
  std::string name;
  if (!ref.empty()) name = check_setting_at(check, ref.c_str(), "name");
  set_output(device, name.empty() ? "UPS" : name);
  set_output(label, "UPS");
  set_output(dev_ref, ref);
  return 0;
}

void ups_audit(const ArCheck* check, AuditReport* report) {
  if (audit_required(check, kDevRef, no_subscription("name the UPS, such as config.ups.ups1"), report)) {
    audit_device(check, kDevRef, 3, "UPS", report);
  }
  const std::string condition = check_setting(check, kTriggerCond);
  const std::string path = audit_path(check, kTriggerCond);
  if (!audit_required(check, kTriggerCond,
                      "only an empty status would trigger and the rule never does; set the status, such as onbatt",
                      report)) {
    return;
  }
  if (!audit_choice(report, path, condition, kUpsConditions, "a UPS status", "the rule never triggers")) return;
  if (condition == kOnline) {
    report->warning(path, "the rule triggers while the UPS is online and never resolves by itself; "
                          "to act on a UPS running on battery use onbatt");
  }
}

// Device, status.
int ups_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpDevice | kSnmpValue, kSnmpDevice | kSnmpValue, &d)) return -1;
  args->insert(args->end(), {*d.device, *d.value});
  return 0;
}

const char* const kUpsStateSettings[] = {kDevRef, kTriggerCond, nullptr};

}  // namespace

extern const CheckType kUpsStateCheck = {
    .name = "ups_status",
    .domain = "ups.state",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = ups_on_event,
        .describe_device = ups_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = subscription_key_by_kind,
        .snmp_args = ups_snmp_args,
        .audit = ups_audit,
    },
    .snmp_script = "ups-status-alert",
    .settings = kUpsStateSettings,
    .property = {.fixed = "N/A"},
    .trigger = {.setting = kTriggerCond},
    .key = {.head = kDevRef, .joint = ".event.status", .invalid = "UPS state property"},
};
