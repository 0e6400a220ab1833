// The "conman" action: brings a network interface up or down by a command
// to infod; nothing runs from the action queue.
#include "actions/action_ops.h"
#include "actions/action_settings.h"
#include "core/link.h"

int queue_conman_action(ArCheck* check, ActionEntry* entry) {
  const ActionSettings settings(check, entry, ".conman");
  const std::string ref = settings.text("ref");
  const char* command = settings.text("action") == "start" ? "up" : "down";
  // Built whole: an interface reference of any length names its own key.
  const std::string key = ref + ".ar_ctl";

  DaemonContext* ctx = check->ar->daemon;
  ar_log(kLogInfo, "Running Interface Action for %s", check->ar->path.c_str());
  if (link_send(&ctx->link, kInfodPush, key.c_str(), 2, command) != 0) {
    ar_log(kLogFatal, "Couldn't send interface command");
    return -1;
  }
  // Complete once sent: the queue never sees it.
  entry->status = kActionDropped;
  return 0;
}
