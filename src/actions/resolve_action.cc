// The "resolve" action: a placeholder kind that does nothing, so the
// queueing step reports it as failed and drops it.
#include "actions/action_kinds.h"

int queue_resolve_action(ActionQueue& /*queue*/, ArCheck* /*check*/, const Action& /*action*/, ActionStatus* /*status*/) { return -1; }
