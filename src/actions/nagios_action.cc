// The "nagios" action: reports a passive check result through the
// alert-nsca script.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/substitute.h"
#include "base/paths.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kMessage = "message";
constexpr const char* kReturnCode = "return_code";

// The queue's tag that marks an NSCA report.
constexpr int32_t kNagiosTag = 2;

int queue_nagios_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".nagios");
  const std::string host_name = settings.text_at("config.system.nagios", "name");
  const std::string check_name = "alert_ar_" + settings.text_at(check->conf.ar->path(), "nagios.name");
  const std::string message_text = settings.text(kMessage);
  const std::string return_code = settings.text(kReturnCode);

  ar_log(kLogInfo, "Queued Nagios NSCA Action for %s", check->conf.ar->path().c_str());
  const std::string message = substitute_or_keep({env.clock, env.hostname}, message_text, check);
  const std::vector<std::string> envp{env_entry("NAME", host_name), env_entry("CHECK", check_name),
                                      env_entry("CODE", return_code), env_entry("STATUS", message)};

  const int result = env.queue.enqueue(check, action, status, path_in(env.paths.scripts_dir, "alert-nsca"), {"alert-nsca"},
                                  envp, kNagiosTag);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

const char* const kNagiosSettings[] = {kMessage, kReturnCode, nullptr};

}  // namespace

extern const ActionKind kNagiosAction = {
    .type = "nagios",
    .queue = queue_nagios_action,
    .settings = kNagiosSettings,
};
