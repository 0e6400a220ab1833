// The "dio" action: sets a digital output pin with ioc.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "base/paths.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kPin = "pin";
constexpr const char* kValue = "value";

int queue_dio_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".dio");
  const std::vector<std::string> argv{"ioc", "-p", settings.text(kPin), "-v", settings.text(kValue)};
  const int result = env.queue.enqueue(check, action, status, env.paths.ioc, argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

const char* const kDioSettings[] = {kPin, kValue, nullptr};

}  // namespace

extern const ActionKind kDioAction = {
    .type = "dio",
    .queue = queue_dio_action,
    .settings = kDioSettings,
};
