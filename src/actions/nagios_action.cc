// Placeholder until the nagios action is built.
#include "actions/action_ops.h"

int queue_nagios_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
