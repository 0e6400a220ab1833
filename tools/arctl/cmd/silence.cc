// `arctl silence RULE --for DURATION`: the silence control command for one
// rule, or one of its references.
#include <optional>
#include <string>

#include "arctl/arctl.h"
#include "arctl/steer.h"
#include "arctl/text.h"
#include "engine/control_text.h"

namespace {

// DURATION in seconds: a whole number alone (seconds) or followed by s, m,
// h or d; nullopt for anything else. Too many digits read as past every
// bound.
std::optional<int64_t> duration_seconds(const std::string& text) {
  const size_t digits = text.find_first_not_of("0123456789");
  if (text.empty() || digits == 0) return std::nullopt;
  const std::string unit = digits == std::string::npos ? "" : text.substr(digits);
  int64_t scale = 0;
  if (unit.empty() || unit == "s") {
    scale = 1;
  } else if (unit == "m") {
    scale = 60;
  } else if (unit == "h") {
    scale = 3600;
  } else if (unit == "d") {
    scale = 86400;
  } else {
    return std::nullopt;
  }
  const std::string number = text.substr(0, digits);
  if (number.size() > 9) return int64_t{kMaxSilenceSeconds} + 1;
  return std::stoll(number) * scale;
}

int run_silence(Invocation& inv) {
  if (!inv.duration) return usage_error(inv.err, "--for DURATION is needed", &kSilenceCommand);
  const std::optional<int64_t> seconds = duration_seconds(*inv.duration);
  if (!seconds) {
    return usage_error(inv.err, "--for takes a DURATION such as 90s, 15m, 2h or 1d, not \"" +
                                    visible(*inv.duration) + "\"", &kSilenceCommand);
  }
  if (!silence_seconds_fit(*seconds)) {
    return usage_error(inv.err, "--for takes a DURATION of 1 second to 30 days", &kSilenceCommand);
  }
  if (inv.reason && !silence_reason_fits(*inv.reason)) {
    return usage_error(inv.err, "--reason holds a control character or is longer than " +
                                    std::to_string(kMaxSilenceReason) + " bytes", &kSilenceCommand);
  }
  uint32_t ref = 0;
  if (!reference_option(inv, kSilenceCommand, &ref)) return 2;
  const std::optional<std::string> origin = origin_of(inv, kSilenceCommand, "silences");
  if (!origin) return 2;
  SteeredRule steered;
  if (const int status = steer_rule(inv, &steered); status != 0) return status;
  const std::string& label = steered.label;
  // The daemon refuses a reference the rule lacks and one silenced already.
  const std::string args = silence_args_format({static_cast<uint32_t>(*seconds), ref, inv.reason});
  if (const int status = command_daemon(inv, steered, *origin, ControlVerb::kSilence, args); status != 0) {
    return status;
  }
  // The daemon answers once the rule's record holds the silence.
  RestartRule record;
  if (!read_restart_rule(steered.infod, steered.rule->number, &record)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  inv.out << label << ": " << silenced_whom(ref) << " silenced";
  // One at most: a silence stands in the way of every other of its references.
  for (const RestartSilence& s : record.silences) {
    if (s.ref == ref) inv.out << " until " << local_time_text(s.until_ms / 1000);
  }
  inv.out << "; the rule's actions are not queued until then ('arctl unsilence' lifts it)\n";
  return 0;
}

}  // namespace

const Command kSilenceCommand = {
    .name = "silence",
    .summary = "queue no action of a rule for a while",
    .options =
        {
            kSocketOption,
            kPidFileOption,
            {.name = "as", .placeholder = "NAME", .help = "who silences, instead of the user (as for cancel)", .value = &Invocation::as, .may_be_empty = true},
            {.name = "ref", .placeholder = "N", .help = "reference N alone; without it every reference", .value = &Invocation::ref},
            {.name = "for", .placeholder = "DURATION", .help = "how long", .value = &Invocation::duration, .required = true},
            {.name = "reason", .placeholder = "TEXT", .help = "why, for 'arctl silences'; commas allowed, no control\ncharacter, at most 256 bytes", .value = &Invocation::reason},
        },
    .arguments = "RULE",
    .description =
        "Sends the running daemon the silence command for RULE, given by its name,\n"
        "its number N or its path config.autoresponse.autoresponseN as the daemon\n"
        "loaded it, then waits for the daemon to act and prints until when. While\n"
        "silenced, the rule's references (or reference N) are evaluated and change\n"
        "state as usual, but none of the rule's actions is queued: each one that\n"
        "would have been is logged and held back, and when the silence ends it is\n"
        "settled: a reference still Triggered runs the trigger actions held, one\n"
        "that resolved after they ran runs the resolve actions held, one that\n"
        "triggered and resolved inside the silence runs nothing. The silence ends\n"
        "by itself after DURATION, by 'arctl unsilence', or when a reload removes\n"
        "the rule; it outlives reloads that change the rule, and restarts.\n"
        "DURATION is a whole number of seconds, or one followed by s, m, h or d\n"
        "(90s, 15m, 2h, 1d), from 1 second to 30 days. A reference has one silence\n"
        "at most, and a silence of every reference counts as one on each: the\n"
        "daemon refuses one silenced already, and arctl prints why. The command\n"
        "written into infod's key config.autoresponse.command is\n"
        "@ID PATH,NAME,silence,SECONDS,N[,TEXT] (ID answered as for cancel).\n",
    .exit_status =
        "Exit status: 0 silenced, 1 no such rule, refused (no such reference,\n"
        "silenced already), not answered, or infod cannot be reached, 2 a command\n"
        "line that is not understood, 3 the daemon is not running or the pid in\n"
        "infod is not the running daemon.\n",
    .min_words = 1,
    .max_words = 1,
    .run = run_silence,
};
