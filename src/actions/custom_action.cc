// Placeholder until the custom action is built.
#include "actions/action_ops.h"

int queue_custom_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
