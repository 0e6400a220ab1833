// The "conman" action: brings a network interface up or down by a command
// to infod; nothing runs from the action queue.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "checks/audit.h"
#include "checks/interface_info.h"
#include "model/publisher.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kRef = "ref";
constexpr const char* kAction = "action";

int queue_conman_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".conman");
  const std::string ref = settings.text(kRef);
  const char* command = settings.text(kAction) == "start" ? "up" : "down";
  // Built whole: an interface reference of any length names its own key.
  const std::string key = ref + ".ar_ctl";

  ar_log(kLogInfo, "Running Interface Action for %s", check->conf.ar->path().c_str());
  if (env.publisher.push(key.c_str(), 2, command) != 0) {
    ar_log(kLogFatal, "Couldn't send interface command");
    return -1;
  }
  // Complete once sent: the queue never sees it.
  *status = kActionDropped;
  return 0;
}

void audit_conman_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* /*check*/) {
  const std::string conman = action + ".conman";
  const std::string ref = audit_setting(db, conman, kRef);
  if (interface_info_find(ref.c_str()) == nullptr && !interface_is_tunnel(ref.c_str())) {
    report->warning(conman + ".ref", (ref.empty() ? std::string("missing") : quoted(ref) + " is no interface") +
                                         ", so nothing acts on the command; name an interface such as "
                                         "config.interfaces.wan or a tunnel under config.openvpn");
  }
  const std::string what = audit_setting(db, conman, kAction);
  if (what.empty()) {
    report->error(conman + ".action", "missing, so the daemon stops the interface; use start or stop");
  } else {
    audit_choice(report, conman + ".action", what, {"start", "stop"}, "an interface action",
                 "the daemon stops the interface");
  }
}

const char* const kConmanSettings[] = {kRef, kAction, nullptr};

}  // namespace

extern const ActionKind kConmanAction = {
    .type = "conman",
    .queue = queue_conman_action,
    .audit = audit_conman_action,
    .settings = kConmanSettings,
};
