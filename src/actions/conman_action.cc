// The "conman" action: brings a network interface up or down by a command
// to infod; nothing runs from the action queue.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/queue.h"

int queue_conman_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".conman");
  const std::string ref = settings.text("ref");
  const char* command = settings.text("action") == "start" ? "up" : "down";
  // Built whole: an interface reference of any length names its own key.
  const std::string key = ref + ".ar_ctl";

  ar_log(kLogInfo, "Running Interface Action for %s", check->conf.ar->path.c_str());
  if (queue.publisher().push(key.c_str(), 2, command) != 0) {
    ar_log(kLogFatal, "Couldn't send interface command");
    return -1;
  }
  // Complete once sent: the queue never sees it.
  *status = kActionDropped;
  return 0;
}
