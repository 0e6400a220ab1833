// `arctl reload`: checks the configuration, and only when it has no error
// has the running daemon load it, then says what the load found.
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/daemon_view.h"
#include "arctl/infod.h"
#include "arctl/text.h"
#include "daemon/daemon_status.h"

namespace {

// How long the daemon may take to load: far more than 10,000 rules take.
constexpr int kLoadWaitMs = 30000;

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
  // Subscribed before the signal, and a get answered after the
  // subscription, so infod has it when the daemon publishes the result.
  const std::string result_key = daemon_status_key(kStatusReloadResult);
  std::optional<std::string> before;
  if (!infod.subscribe(result_key) || !infod.get(result_key, &before)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  if (kill(view.pid, SIGHUP) != 0) {
    inv.err << "arctl: cannot signal the daemon (pid " << view.pid << "): " << strerror(errno) << "\n";
    return 1;
  }
  InfodUpdate update;
  while (infod.next_update(&update, kLoadWaitMs)) {
    if (update.key != result_key) continue;
    if (update.value == "ok") {
      inv.out << "reloaded " << visible(file) << "\n";
      return 0;
    }
    inv.err << "arctl: the daemon could not load the file and runs on as it was: " << visible(update.value) << "\n";
    return 1;
  }
  inv.err << "arctl: the daemon (pid " << view.pid << ") did not report a load within " << kLoadWaitMs / 1000
          << " seconds\n";
  return 1;
}

}  // namespace

const Command kReloadCommand = {
    "reload",
    "[--socket PATH]",
    "check the configuration and have the daemon load it",
    "Checks the configuration as 'arctl check' does and prints the findings.\n"
    "When it has an error, or cannot be read, nothing is sent and the daemon\n"
    "runs on with what it has. Otherwise sends the running daemon SIGHUP (its\n"
    "pid as it publishes it in infod), waits for the result of its load and\n"
    "prints it. The configuration is $XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 loaded, 1 refused, failed or not confirmed, 3 the daemon is\n"
    "not running.\n",
    kOptionSocket,
    0,
    0,
    run_reload,
};
