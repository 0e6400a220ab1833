// The "dio" action: sets a digital output pin with ioc.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "base/paths.h"

int queue_dio_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".dio");
  const std::vector<std::string> argv{"ioc", "-p", settings.text("pin"), "-v", settings.text("value")};
  const int result = queue.add(check, action, status, queue.paths().ioc, argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

const char* const kDioSettings[] = {"pin", "value", nullptr};
