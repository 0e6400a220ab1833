// `arctl reload`: checks the configuration, and only when it has no error
// has the running daemon load it, then says what the load found.
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/daemon_view.h"
#include "arctl/infod.h"
#include "arctl/offline.h"
#include "arctl/reload_plan.h"
#include "arctl/text.h"
#include "base/process_start.h"
#include "daemon/daemon_status.h"

namespace {

// How long the daemon may take to load: far more than 10,000 rules take.
constexpr int kLoadWaitMs = 30000;

// Prints what the reload would do to the rules the daemon runs now: the
// exit status when that is all (a dry run, or a refusal), else -1.
int plan(Invocation& inv, const std::string& file, InfodConnection& infod, const DaemonView& view) {
  const OfflineConfig config(file);
  if (!config.ok()) {
    inv.err << "arctl: not reloaded: " << visible(file) << " cannot be read as a configuration; the daemon runs on "
            << "as it is\n";
    return 1;
  }
  if (!view.loaded_whole) {
    inv.out << "plan: infod does not hold the whole list of the rules the daemon runs, so what the reload would do "
            << "cannot be told\n";
    if (inv.dry_run) return 1;
    if (inv.force) return -1;
    inv.err << "arctl: not reloaded: what it would leave undone cannot be told; --force reloads anyway\n";
    return 1;
  }
  std::map<uint32_t, RestartRule> records;
  if (!read_shown_records(infod, view, &records)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  const ReloadPlan plan = plan_reload(config, view, records);
  print_plan(inv.out, plan);
  if (inv.dry_run) return 0;
  if (!inv.force && !plan.undone().empty()) {
    inv.err << "arctl: not reloaded: it would leave " << undone_list(plan) << " undone, "
            << (plan.undone().size() == 1 ? "its" : "their") << " resolve actions never run; --force reloads anyway\n";
    return 1;
  }
  return -1;
}

int run_reload(Invocation& inv) {
  const std::string file = default_config_file();
  const int checked = check_configuration(file, inv.out, inv.err);
  if (checked != 0) {
    inv.err << "arctl: not reloaded: " << visible(file)
            << (checked == 1 ? " has errors" : " cannot be read as a configuration") << "; the daemon runs on as it is\n";
    return 1;
  }
  InfodConnection infod;
  DaemonView view;
  if (const int status = reach_running_daemon(inv.socket, &infod, &view, inv.err); status != 0) return status;
  if (const int status = prove_running_daemon(view, pid_file_of(inv), inv.err); status != 0) return status;
  if (const int status = plan(inv, file, infod, view); status >= 0) return status;
  // Subscribed before the signal, and a get answered after the
  // subscription, so infod has it when the daemon publishes the result;
  // and the number of the last load then, so an earlier load's result is
  // not taken for this one's.
  const std::string number_key = daemon_status_key(kStatusReloadNumber);
  const std::string result_key = daemon_status_key(kStatusReloadResult);
  const std::string changes_key = daemon_status_key(kStatusReloadChanges);
  std::optional<std::string> before;
  if (!infod.subscribe(daemon_status_key("reload")) || !infod.get(number_key, &before)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  const uint64_t last_before = strtoull(before.value_or("0").c_str(), nullptr, 10);
  if (kill(view.pid, SIGHUP) != 0) {
    inv.err << "arctl: cannot signal the daemon (pid " << view.pid << "): " << strerror(errno) << "\n";
    return 1;
  }
  // The daemon publishes a load's number just before its result, and what
  // a load that opened its file kept just before its number.
  InfodUpdate update;
  uint64_t number = 0;
  std::optional<std::string> result, changes, changes_of_number;
  while (!result && infod.next_update(&update, kLoadWaitMs)) {
    if (update.key == changes_key) changes = update.value;
    if (update.key == number_key) {
      number = strtoull(update.value.c_str(), nullptr, 10);
      changes_of_number = std::exchange(changes, std::nullopt);
    }
    if (update.key == result_key && number > last_before) result = update.value;
  }
  const bool alive = process_start_time(view.pid) == view.pid_start_time;
  if (!result) {
    inv.err << "arctl: the daemon (pid " << view.pid << ") "
            << (alive ? "did not report a load within " + std::to_string(kLoadWaitMs / 1000) + " seconds\n"
                      : "ended before it reported its load\n");
    return 1;
  }
  if (*result != "ok") {
    inv.err << "arctl: the daemon could not load the file and runs on as it was: " << visible(*result) << "\n";
    return 1;
  }
  // What the daemon says after the load: still the same process, and all
  // it loaded in infod.
  DaemonView after;
  if (!read_daemon_view(infod, &after)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  if (after.pid != view.pid || process_start_time(view.pid) != view.pid_start_time) {
    inv.err << "arctl: the daemon (pid " << view.pid << ") reported its load and ended\n";
    return 1;
  }
  if (!after.loaded_whole || after.reload_number < number) {
    inv.err << "arctl: the daemon (pid " << view.pid << ") reported its load, but infod does not hold the list of "
            << "rules it loaded\n";
    return 1;
  }
  inv.out << "reloaded " << visible(file) << "\n";
  if (changes_of_number && *changes_of_number != "-") inv.out << visible(*changes_of_number) << "\n";
  return 0;
}

}  // namespace

const Command kReloadCommand = {
    "reload",
    "[--socket PATH] [--pid-file PATH] [--dry-run] [--force]",
    "check the configuration and have the daemon load it",
    "Checks the configuration as 'arctl check' does and prints the findings.\n"
    "When it has an error, or cannot be read, nothing is sent and the daemon\n"
    "runs on with what it has. Otherwise prints the plan, what the load would\n"
    "do to each rule the daemon runs now: how many it keeps unchanged, which\n"
    "it carries (their references keep their states under the new settings),\n"
    "starts afresh (and why), adds and removes, each waiting delayed action it\n"
    "would drop, and each Triggered or Resolving reference it would leave\n"
    "undone, its resolve actions never run; it refuses to do that (exit 1)\n"
    "unless given --force. Then it sends the running daemon SIGHUP, but\n"
    "only when the pid it publishes in infod is the process that the kernel\n"
    "names as the holder of its pid file's lock, the one in that file, and\n"
    "the process with that pid started when the daemon said it did; then\n"
    "waits for the result of that load, and says \"reloaded\" only when the\n"
    "daemon is still running after it and infod holds all it loaded, followed\n"
    "by what the load kept and reset: how many rules it kept unchanged, which\n"
    "it built again (each starts afresh, its waiting delayed actions dropped),\n"
    "added and removed. The configuration is $XMLDB_PATH, else\n"
    "/etc/config/config.xml.\n"
    "\n"
    "  --socket PATH     infod's socket (default /var/run/infod-sock)\n"
    "  --pid-file PATH   the daemon's pid file (default /var/run/autoresponsed.pid)\n"
    "  --dry-run         print the plan and stop: nothing is sent\n"
    "  --force           reload even when the plan leaves an incident undone\n"
    "\n"
    "Exit status: 0 loaded (or planned, with --dry-run), 1 refused, failed or\n"
    "not confirmed, 3 the daemon is not running or the pid in infod is not the\n"
    "running daemon.\n",
    kOptionSocket | kOptionPidFile | kOptionDryRun | kOptionForce,
    0,
    0,
    run_reload,
};
