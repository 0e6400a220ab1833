// Placeholder until the snmp action is built.
#include "actions/action_ops.h"

int queue_snmp_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
