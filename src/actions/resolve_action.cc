// The "resolve" action: a placeholder kind that does nothing, so the
// queueing step reports it as failed and drops it.
#include "actions/action_kinds.h"
#include "checks/audit.h"

namespace {

int queue_resolve_action(const ActionEnv& /*env*/, ArCheck* /*check*/, const Action& /*action*/, ActionStatus* /*status*/) { return -1; }

void audit_resolve_action(AuditReport* report, xmldb_t* /*db*/, const std::string& action, const CheckType* /*check*/) {
  report->warning(action + ".action_type", "a resolve action does nothing and is always reported as failed; "
                                           "remove it");
}

}  // namespace

extern const ActionKind kResolveAction = {
    .type = "resolve",
    .queue = queue_resolve_action,
    .audit = audit_resolve_action,
};
