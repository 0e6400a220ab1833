// The "custom" action: runs a configured script with configured arguments,
// each passed through text substitution.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/substitute.h"
#include "checks/audit.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kScript = "script";
constexpr const char* kArgsTotal = "args.total";

// The most arguments a custom action runs with: more than any script is
// configured with, so a larger count is a broken setting and the action
// fails instead of allocating what it asks.
constexpr int32_t kMaxCustomArgs = 256;

int queue_custom_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".custom");
  const std::string script = settings.text(kScript);
  const int32_t total = settings.integer(kArgsTotal);
  if (total > kMaxCustomArgs) {
    ar_log(kLogFatal, "Could not execute action: %s", action.name.c_str());
    return -1;
  }

  std::vector<std::string> argv{script};
  for (int32_t i = 1; i <= total; ++i) {
    const std::string arg = settings.text("args.arg" + std::to_string(i));
    argv.push_back(arg.empty() ? arg : substitute_or_keep({env.clock, env.hostname}, arg, check));
  }

  const int result = env.queue.enqueue(check, action, status, script, argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}

// A custom action's script, as this machine has it.
void audit_script(AuditReport* report, const std::string& path, const std::string& script) {
  if (script.empty()) {
    report->error(path, "missing, so the action starts nothing and fails; set the script's full path");
    return;
  }
  if (script[0] != '/') {
    report->add({AuditLevel::kWarning, path,
                 quoted(script) + " is no full path, so it is looked for in the daemon's working directory; "
                                  "write its full path",
                 AuditKind::kScript});
    return;
  }
  // What follows depends on this machine's files alone: the appliance has
  // its scripts, a development machine seldom does.
  const auto here = [&](const std::string& text) {
    report->add({AuditLevel::kWarning, path, text, AuditKind::kScript, true});
  };
  struct stat st{};
  if (stat(script.c_str(), &st) != 0) {
    here(script + (errno == ENOENT ? std::string(" does not exist on this machine")
                                   : " cannot be examined (" + std::string(strerror(errno)) + ")") +
         ", so the action would end with status 127");
  } else if (!S_ISREG(st.st_mode)) {
    here(script + " is not a file, so the action would end with status 127");
  } else if (access(script.c_str(), X_OK) != 0) {
    here(script + " is not executable, so the action would end with status 127; chmod +x it");
  }
}

void audit_custom_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* /*check*/) {
  const std::string custom = action + ".custom";
  audit_script(report, custom + ".script", audit_setting(db, custom, kScript));
  const std::string args = custom + ".args";
  if (audit_holds(db, args)) {
    audit_total(report, db, args, "arg", kMaxCustomArgs, "those arguments are passed empty");
    if (xmldb_getsize(db, args.c_str(), "total") > kMaxCustomArgs) {
      report->error(args + ".total", "is more than the " + std::to_string(kMaxCustomArgs) +
                                         " arguments the daemon passes, so the action always fails");
    }
  }
}

const char* const kCustomSettings[] = {kScript, kArgsTotal, "args.arg#", nullptr};

}  // namespace

extern const ActionKind kCustomAction = {
    .type = "custom",
    .queue = queue_custom_action,
    .audit = audit_custom_action,
    .settings = kCustomSettings,
};
