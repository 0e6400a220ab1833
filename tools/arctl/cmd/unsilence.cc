// `arctl unsilence RULE`: the unsilence control command for one rule, or
// one of its references.
#include <optional>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/steer.h"
#include "arctl/text.h"
#include "base/clock.h"

namespace {

// The silences of record that lifting ref ends: its own, or every one for 0.
std::vector<RestartSilence> lifted_by(const RestartRule& record, uint32_t ref, int64_t now) {
  std::vector<RestartSilence> lifted;
  for (const RestartSilence& s : record.silences) {
    if (s.until_ms > now && unsilence_lifts(ref, s.ref)) lifted.push_back(s);
  }
  return lifted;
}

int run_unsilence(Invocation& inv) {
  uint32_t ref = 0;
  if (!reference_option(inv, kUnsilenceCommand, &ref)) return 2;
  const std::optional<std::string> origin = origin_of(inv, kUnsilenceCommand, "lifts a silence");
  if (!origin) return 2;
  SteeredRule steered;
  if (const int status = steer_rule(inv, &steered); status != 0) return status;
  // What the daemon holds now, to tell what it lifted; it refuses a rule
  // without such a silence.
  RestartRule record;
  if (!read_restart_rule(steered.infod, steered.rule->number, &record)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  std::vector<RestartSilence> lifted = lifted_by(record, ref, SystemClock().wall_ms());
  if (lifted.empty()) lifted.push_back({ref, 0, "", ""});
  const int status = command_daemon(inv, steered, *origin, ControlVerb::kUnsilence, unsilence_args_format(ref));
  if (status != 0) return status;
  inv.out << steered.label << ": silence of ";
  for (size_t i = 0; i < lifted.size(); ++i) inv.out << (i > 0 ? ", " : "") << silenced_whom(lifted[i].ref);
  inv.out << " lifted; the rule's actions are queued again\n";
  return 0;
}

}  // namespace

const Command kUnsilenceCommand = {
    .name = "unsilence",
    .summary = "lift a rule's silences before their time",
    .options =
        {
            kSocketOption,
            kPidFileOption,
            {.name = "as", .placeholder = "NAME", .help = "who lifts it, instead of the user (as for cancel)", .value = &Invocation::as, .may_be_empty = true},
            {.name = "ref", .placeholder = "N", .help = "the silence of reference N alone", .value = &Invocation::ref},
        },
    .arguments = "RULE",
    .description =
        "Sends the running daemon the unsilence command for RULE (as for silence),\n"
        "then waits for the daemon to act and prints what it lifted: every silence\n"
        "of the rule, or with --ref N the one of reference N alone. From then on\n"
        "the rule's actions are queued as it runs, and what the silence held back\n"
        "is settled as at its end ('arctl silence --help' tells how). The daemon\n"
        "refuses a rule without such a silence, and arctl prints why. The command written into infod's key\n"
        "config.autoresponse.command is @ID PATH,NAME,unsilence,N (0 for every\n"
        "silence; ID answered as for cancel).\n",
    .exit_status =
        "Exit status: 0 lifted, 1 no such rule, refused, not answered, or infod\n"
        "cannot be reached, 2 a command line that is not understood, 3 the daemon\n"
        "is not running or the pid in infod is not the running daemon.\n",
    .min_words = 1,
    .max_words = 1,
    .run = run_unsilence,
};
