// The "dio" action: sets a digital output pin with ioc.
#include "actions/action_ops.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "core/paths.h"

int queue_dio_action(ArCheck* check, ActionEntry* entry) {
  const ActionSettings settings(check, entry, ".dio");
  const std::vector<std::string> argv{"ioc", "-p", settings.text("pin"), "-v", settings.text("value")};
  const int result = queue_action(check, entry, check->ar->daemon->paths->ioc, argv, {}, 0);
  return action_queued(result, entry, "Could not execute action: %s", entry->action->name);
}
