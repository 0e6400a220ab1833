// Placeholder until the resolve action is built.
#include "actions/action_ops.h"

int queue_resolve_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
