// Placeholder until the cms action is built.
#include "actions/action_ops.h"

int queue_cms_action(ArCheck* /*check*/, ActionEntry* /*entry*/) { return -1; }
