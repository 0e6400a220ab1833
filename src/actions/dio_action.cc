// Placeholder until the dio action is built.
#include "actions/action_ops.h"

int queue_dio_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
