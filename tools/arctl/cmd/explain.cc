// `arctl explain RULE [--ref N] [--json]`: why each reference of a rule the
// running daemon runs is in its state and what would change it.
#include <algorithm>
#include <ctime>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/daemon_view.h"
#include "arctl/explain.h"
#include "arctl/infod.h"
#include "arctl/offline.h"
#include "arctl/rule_status.h"
#include "arctl/steer.h"
#include "arctl/text.h"
#include "config/config_file.h"

namespace {

int run_explain(Invocation& inv) {
  InfodConnection infod;
  DaemonView view;
  if (const int status = reach_running_daemon(inv.socket, &infod, &view, inv.err); status != 0) return status;
  const LoadedRule* loaded = find_loaded_rule(view, inv.words[0], inv.err);
  if (loaded == nullptr) return 1;
  uint32_t only = 0;
  if (!reference_option(inv, kExplainCommand, &only)) return 2;
  const std::string file = default_config_file();
  const ConfigFileFacts facts = config_file_facts(file);
  const bool same = facts.readable && facts.mtime == view.reload_mtime && facts.checksum == view.reload_checksum;
  const OfflineConfig config(file);
  std::vector<RuleStatus> rules = same && config.ok() ? rules_of_file(config) : rules_of_daemon(view);
  rules.erase(std::remove_if(rules.begin(), rules.end(), [&](const RuleStatus& r) { return r.number != loaded->number; }),
              rules.end());
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t now_ms = int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
  if (rules.empty() || !read_rules(infod, view, &rules, now_ms)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  const ExplainedRule rule = explain_status(rules.front(), view.queue, view.finished, config, only, now_ms);
  if (only != 0 && rule.references.empty()) {
    inv.err << "arctl: rule " << rule.number << " (" << visible(rule.name) << ") has no reference " << only << "\n";
    return 1;
  }
  if (!same) {
    inv.err << "arctl: " << visible(file) << " is not the file the daemon loaded: the settings shown are the file's\n";
  }
  if (inv.json) {
    print_explanation_json(inv.out, rule);
  } else {
    print_explanation(inv.out, rule);
  }
  return 0;
}


}  // namespace

const Command kExplainCommand = {
    .name = "explain",
    .summary = "tell why a rule's references are in their states and what would change them",
    .options =
        {
            {.name = "ref", .placeholder = "N", .help = "only reference N", .value = &Invocation::ref},
            kSocketOption,
            kPidFileOption,
            {.name = "json", .help = "one JSON object for programs", .flag = &Invocation::json},
        },
    .arguments = "RULE",
    .description =
        "For each reference of the rule RULE (its number, path or name) the running\n"
        "daemon runs, or only reference N: its state and since when, the latest\n"
        "value of its key and when it came, how its check judges that value with\n"
        "the settings in force (what it measures against what, and the line the\n"
        "daemon would log), the delayed actions waiting and when they can start,\n"
        "the end of a Timeout or a window, a burst's count, a hold or a silence\n"
        "that holds its actions back, and what would move it out of its state;\n"
        "then the rule's actions in the queue and those that ended last, with\n"
        "their exit statuses. The settings are the configuration file's, which\n"
        "are the daemon's while the file is the one it loaded (otherwise it says\n"
        "so). 'arctl test --explain RULE AT' tells the same of a simulated run.\n",
    .exit_status =
        "Exit status: 0 told, 1 no such rule or reference, or infod cannot be\n"
        "read, 3 the daemon is not running.\n",
    .min_words = 1,
    .max_words = 1,
    .run = run_explain,
};
