// Placeholder until the sms action is built.
#include "actions/action_ops.h"

int queue_sms_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
