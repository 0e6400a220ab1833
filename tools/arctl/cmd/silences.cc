// `arctl silences`: every silence the running daemon keeps, from its rules'
// kept records.
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/steer.h"
#include "arctl/text.h"
#include "base/clock.h"

namespace {

int run_silences(Invocation& inv) {
  InfodConnection infod;
  DaemonView view;
  if (const int status = reach_running_daemon(inv.socket, &infod, &view, inv.err); status != 0) return status;
  const int64_t now = SystemClock().wall_ms();
  std::vector<std::vector<std::string>> rows{{"#", "NAME", "REFERENCE", "UNTIL", "BY", "REASON"}};
  for (const LoadedRule& rule : view.loaded) {
    RestartRule record;
    if (!read_restart_rule(infod, rule.number, &record)) {
      inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
      return 1;
    }
    for (const RestartSilence& s : record.silences) {
      // One whose time came a moment ago, before the daemon's next tick.
      if (s.until_ms <= now) continue;
      rows.push_back({std::to_string(rule.number), visible(rule.name), s.ref == 0 ? "every" : std::to_string(s.ref),
                      local_time_text(s.until_ms / 1000), visible(s.origin), s.reason.empty() ? "-" : visible(s.reason)});
    }
  }
  if (rows.size() == 1) {
    inv.out << "no silences\n";
  } else {
    print_table(inv.out, rows);
  }
  return 0;
}

}  // namespace

const Command kSilencesCommand = {
    .name = "silences",
    .summary = "list the running daemon's silences",
    .options =
        {
            kSocketOption,
        },
    .description =
        "Lists every silence of the rules the running daemon runs, as the daemon\n"
        "keeps them in infod: the rule's number and name, the reference (every, or\n"
        "its number), until when (local time), who silenced it and why; or says\n"
        "that there are none.\n",
    .exit_status =
        "Exit status: 0 listed, 1 infod cannot be reached, 2 a command line that\n"
        "is not understood, 3 the daemon is not running.\n",
    .run = run_silences,
};
