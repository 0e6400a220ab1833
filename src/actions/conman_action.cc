// Placeholder until the conman action is built.
#include "actions/action_ops.h"

int queue_conman_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
