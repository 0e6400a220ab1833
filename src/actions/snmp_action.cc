// The "snmp" action: runs the appliance's SNMP alert script for the rule's
// kind of check, with positional arguments that describe the event: the
// five shared ones, then those the kind's builder makes (each kind's
// descriptor carries its script and builder).
#include <string>
#include <vector>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "base/paths.h"
#include "checks/audit.h"
#include "checks/snmp_alert.h"
#include "model/autoresponse.h"
#include "model/check_kind.h"

namespace {

int queue_snmp_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  // The kind the rule was loaded with, as every other operation of the
  // reference: the script and its arguments cannot come from a kind that
  // an edit of the file, not yet loaded, names.
  const CheckType* kind = check->conf.ar->kind;
  if (kind == nullptr || kind->snmp_script == nullptr || kind->ops.snmp_args == nullptr) {
    ar_log(kLogFatal, "No snmp alert script for %s checks", kind != nullptr ? kind->name : "");
    return -1;
  }
  const CheckOps* ops = &kind->ops;

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
  SnmpArgs argv{kind->snmp_script};
  snmp_alert_head(check, &env.clock, &argv);
  argv.insert(argv.end(), own.begin(), own.end());

  const std::string script = path_in(env.paths.scripts_dir, kind->snmp_script);
  const int result = env.queue.enqueue(check, action, status, script, argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

void audit_snmp_action(AuditReport* report, xmldb_t* /*db*/, const std::string& action, const CheckType* check) {
  if (check != nullptr && check->snmp_script == nullptr) {
    report->error(action + ".action_type", std::string("rules of type ") + check->name +
                                               " have no SNMP alert, so this action always fails; remove it");
  }
}

}  // namespace

extern const ActionKind kSnmpAction = {
    .type = "snmp",
    .queue = queue_snmp_action,
    .audit = audit_snmp_action,
};
