// `arctl cancel RULE`: the cancel control command for one rule.
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
  const std::string& label = steered.label;
  // The daemon acts on the first reference it made, and refuses a rule
  // without one, or one that is neither Triggered nor Resolving.
  const bool made = !rule->references.empty();
  const uint32_t first = made ? rule->references.front() : 0;
  const std::string key = reference_state_key(steered.path, first);
  std::optional<std::string> before, after;
  if (made && !infod.get(key, &before)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  if (const int status = command_daemon(inv, steered, *origin, ControlVerb::kCancel, ""); status != 0) return status;
  // The daemon answers once the reference has left the state it had.
  if (!infod.get(key, &after)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  inv.out << label << ": reference " << first << " " << visible(before.value_or("-")) << " -> "
          << visible(after.value_or("-"))
          << "; no further actions are queued, and it is Normal again after its reset_timeout\n";
  return 0;
}

}  // namespace

const Command kCancelCommand = {
    .name = "cancel",
    .summary = "cancel a triggered rule, by name or number",
    .options =
        {
            kSocketOption,
            kPidFileOption,
            {.name = "as", .placeholder = "NAME", .help = "who cancels, instead of the user; not empty, and no\ncomma or control character", .value = &Invocation::as, .may_be_empty = true},
        },
    .arguments = "RULE",
    .description =
        "Sends the running daemon the cancel command for RULE, given by its name,\n"
        "its number N or its path config.autoresponse.autoresponseN as the daemon\n"
        "loaded it, then waits for the daemon's answer and prints what happened:\n"
        "when its first reference is Triggered or Resolving, it goes to Timeout,\n"
        "queues no further actions and is Normal again after its reset_timeout;\n"
        "actions already queued or running go on. The daemon refuses a rule in\n"
        "another state, and arctl prints why. Nothing is sent to a daemon that is\n"
        "not running, or to one whose pid in infod is not the process holding its\n"
        "pid file's lock or not the process that started then (as for reload). The\n"
        "command written into infod's key config.autoresponse.command is\n"
        "@ID PATH,NAME,cancel, and the daemon logs NAME as who cancelled: the login\n"
        "name of the user running arctl, or the user who ran it through sudo\n"
        "($SUDO_USER); it answers ID under config.autoresponse.daemon.command.result.\n",
    .exit_status =
        "Exit status: 0 cancelled, 1 no such rule, refused, not answered,\n"
        "or infod cannot be reached, 2 a command line that is not understood or a\n"
        "NAME that cannot be sent, 3 the daemon is not running or the pid in infod\n"
        "is not the running daemon.\n",
    .min_words = 1,
    .max_words = 1,
    .run = run_cancel,
};
