// Placeholder until the rpc action is built.
#include "actions/action_ops.h"

int queue_rpc_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
