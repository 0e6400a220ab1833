// The "snmp" action: runs the appliance's SNMP alert script for the rule's
// kind of check, with positional arguments that describe the event: the
// five shared ones, then those the kind's builder makes (each check module
// carries its script and builder in its CheckOps).
#include <string>
#include <vector>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "base/paths.h"
#include "checks/check_type.h"
#include "checks/snmp_alert.h"

int queue_snmp_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status) {
  // The kind is looked up by the rule's "check_type" as it reads now.
  const std::string check_type = check_setting(check, "check_type");
  const CheckType* type = check_type_named(check_type.c_str());
  const CheckOps* ops = type != nullptr ? type->ops : nullptr;
  if (ops == nullptr || ops->snmp_script == nullptr) {
    ar_log(kLogFatal, "No snmp alert script for %s checks", check_type.c_str());
    return -1;
  }

  SnmpArgs own;
  const int built = ops->snmp_args(check, &own);
  if (built == 1) {
    ar_log(kLogDebug, "SNMP action skipped by handler");
    return 1;
  }
  if (built != 0) {
    ar_log(kLogFatal, "Error generating script arguments");
    return -1;
  }
  SnmpArgs argv{ops->snmp_script};
  snmp_alert_head(check, &queue.clock(), &argv);
  argv.insert(argv.end(), own.begin(), own.end());

  const int result = queue.add(check, action, status, path_in(queue.paths().scripts_dir, ops->snmp_script), argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}
