// The "custom" action: runs a configured script with configured arguments,
// each passed through text substitution.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "actions/substitute.h"

int queue_custom_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".custom");
  const std::string script = settings.text("script");
  const int32_t total = settings.size("args.total");
  if (total > kMaxCustomArgs) {
    ar_log(kLogFatal, "Could not execute action: %s", action.name.c_str());
    return -1;
  }

  std::vector<std::string> argv{script};
  for (int32_t i = 1; i <= total; ++i) {
    const std::string arg = settings.text("args.arg" + std::to_string(i));
    argv.push_back(arg.empty() ? arg : substitute_or_keep(queue, arg, check));
  }

  const int result = queue.add(check, action, status, script, argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}
