// The "email" action: sends an e-mail through the alert-email script, with
// tokens in the body and subject substituted.
#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/substitute.h"
#include "base/paths.h"
#include "checks/audit.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kToAddr = "to_addr";
constexpr const char* kSubject = "subject";
constexpr const char* kBody = "body";

int queue_email_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".email");
  const std::string to_addr = settings.text(kToAddr);
  const std::string subject_text = settings.text(kSubject);
  const std::string body_text = settings.text(kBody);

  ar_log(kLogInfo, "Queued Email Action for %s", check->conf.ar->path().c_str());
  const std::string body = substitute_or_keep({env.clock, env.hostname}, body_text, check);
  const std::string subject = substitute_or_keep({env.clock, env.hostname}, subject_text, check);
  const std::vector<std::string> envp{env_entry("TOADDR", to_addr), env_entry("SUBJECT", subject),
                                      env_entry("BODY", body)};

  const int result = env.queue.enqueue(check, action, status, path_in(env.paths.scripts_dir, "alert-email"), {"alert-email"},
                                  envp, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

void audit_email_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* /*check*/) {
  if (audit_setting(db, action + ".email", "to_addr").empty()) {
    report->error(action + ".email.to_addr", "missing, so the e-mail has no recipient; set the address");
  }
}

const char* const kEmailSettings[] = {kToAddr, kSubject, kBody, nullptr};

}  // namespace

extern const ActionKind kEmailAction = {
    .type = "email",
    .queue = queue_email_action,
    .audit = audit_email_action,
    .settings = kEmailSettings,
};
