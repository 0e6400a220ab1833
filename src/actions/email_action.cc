// Placeholder until the email action is built.
#include "actions/action_ops.h"

int queue_email_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
