// `arctl cancel RULE`: the cancel control command for one rule.
#include <unistd.h>

#include <optional>
#include <string>

#include "arctl/arctl.h"
#include "arctl/steer.h"
#include "arctl/text.h"

namespace {

int run_cancel(Invocation& inv) {
  const std::optional<std::string> origin = origin_of(inv, kCancelCommand, "cancels");
  if (!origin) return 2;
  SteeredRule steered;
  if (const int status = steer_rule(inv, &steered); status != 0) return status;
  InfodConnection& infod = steered.infod;
  const LoadedRule* rule = steered.rule;
  const std::string& path = steered.path;
  const std::string& label = steered.label;
  // The daemon acts on the first reference it made.
  if (rule->references.empty()) {
    inv.err << "arctl: the daemon made no reference of " << label << " ('arctl check' tells why); nothing sent\n";
    return 1;
  }
  const uint32_t first = rule->references.front();
  const std::string key = reference_state_key(path, first);
  std::optional<std::string> before;
  if (!infod.get(key, &before)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  const std::string state = before.value_or("-");
  if (state != "Triggered" && state != "Resolving") {
    inv.err << "arctl: reference " << first << " of " << label << " is " << visible(state)
            << "; the daemon cancels only a Triggered or Resolving rule: nothing sent\n";
    return 1;
  }
  if (!send_control(inv, steered, *origin, ControlVerb::kCancel, "")) return 1;
  // What the daemon did with it: the reference leaves the state it had.
  std::optional<std::string> after = before;
  for (int waited = 0; waited < kActWaitMs && after == before; waited += 50) {
    usleep(50 * 1000);
    if (!infod.get(key, &after)) break;
  }
  if (after == before) {
    inv.err << "arctl: reference " << first << " of " << label << " is still " << visible(state) << " after "
            << kActWaitMs / 1000 << " seconds: the daemon did not act on the command\n";
    return 1;
  }
  inv.out << label << ": reference " << first << " " << visible(state) << " -> " << visible(after.value_or("-"))
          << "; no further actions are queued, and it is Normal again after its reset_timeout\n";
  return 0;
}

}  // namespace

const Command kCancelCommand = {
    "cancel",
    "[--socket PATH] [--pid-file PATH] [--as NAME] RULE",
    "cancel a triggered rule, by name or number",
    "Sends the running daemon the cancel command for RULE, given by its name,\n"
    "its number N or its path config.autoresponse.autoresponseN as the daemon\n"
    "loaded it, when its first reference is Triggered or Resolving, then waits\n"
    "for the daemon to act and prints what happened: the reference goes to\n"
    "Timeout, queues no further actions and is Normal again after its\n"
    "reset_timeout; actions already queued or running go on. Nothing is sent to\n"
    "a daemon that is not running, to one whose pid in infod is not the process\n"
    "holding its pid file's lock or not the process that started then (as for\n"
    "reload), or for a rule in another state. The command written into infod's\n"
    "key config.autoresponse.command is PATH,NAME,cancel, and the daemon logs\n"
    "NAME as who cancelled: the login name of the user running arctl, or the\n"
    "user who ran it through sudo ($SUDO_USER).\n"
    "\n"
    "  --socket PATH     infod's socket (default /var/run/infod-sock)\n"
    "  --pid-file PATH   the daemon's pid file (default /var/run/autoresponsed.pid)\n"
    "  --as NAME         who cancels, instead of the user; not empty, and no\n"
    "                    comma or control character\n"
    "\n"
    "Exit status: 0 cancelled, 1 no such rule, not cancellable, not acted on,\n"
    "or infod cannot be reached, 2 a command line that is not understood or a\n"
    "NAME that cannot be sent, 3 the daemon is not running or the pid in infod\n"
    "is not the running daemon.\n",
    kOptionSocket | kOptionPidFile | kOptionAs,
    1,
    1,
    run_cancel,
};
