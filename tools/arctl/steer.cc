// The steps that cancel, silence and unsilence share.
#include "arctl/steer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "arctl/text.h"
#include "base/clock.h"

std::optional<std::string> origin_of(const Invocation& inv, const Command& command, const char* doing) {
  std::string name, what;
  if (inv.as) {
    name = *inv.as;
    what = "--as";
  } else if (const char* sudo_user = getenv("SUDO_USER"); sudo_user != nullptr && sudo_user[0] != '\0') {
    name = sudo_user;
    what = "SUDO_USER";
  } else {
    const uid_t uid = getuid();
    const struct passwd* pw = getpwuid(uid);
    name = pw != nullptr ? pw->pw_name : std::to_string(uid);
    what = "the login name";
  }
  if (control_field_fits(name)) return name;
  usage_error(inv.err, what + " \"" + visible(name) + "\" cannot name who " + doing +
                           ": it is empty or holds a comma or a control character" +
                           (inv.as ? "" : "; give another with --as NAME"),
              &command);
  return std::nullopt;
}

int steer_rule(Invocation& inv, SteeredRule* s) {
  if (const int status = reach_running_daemon(inv.socket, &s->infod, &s->view, inv.err); status != 0) return status;
  if (const int status = prove_running_daemon(s->view, pid_file_of(inv), inv.err); status != 0) return status;
  // The rule as the daemon runs it, whatever the file says by now.
  s->rule = find_loaded_rule(s->view, inv.words[0], inv.err);
  if (s->rule == nullptr) return 1;
  s->path = loaded_rule_path(*s->rule);
  s->label = "rule " + std::to_string(s->rule->number) + " (" + visible(s->rule->name) + ")";
  return 0;
}

namespace {

// Unique among the commands of every arctl at once: the process, the time
// it started the command, and a count for more than one in a millisecond.
std::string command_id() {
  static unsigned count = 0;
  return std::to_string(getpid()) + "." + std::to_string(SystemClock().wall_ms()) + "." + std::to_string(++count);
}

}  // namespace

int command_daemon(Invocation& inv, SteeredRule& s, const std::string& origin, ControlVerb verb,
                   const std::string& args) {
  const std::string id = command_id();
  const std::string command = control_text_format({s.path, origin, control_verb_name(verb), args});
  // Subscribed before the command, and a get answered after the
  // subscription, so infod has it when the daemon answers.
  std::optional<std::string> last;
  if (!s.infod.subscribe(kControlResultKey) || !s.infod.get(kControlResultKey, &last) ||
      !s.infod.push(kControlKey, 0, control_id_format(id) + command)) {
    inv.err << "arctl: could not send to infod at " << visible(inv.socket) << "\n";
    return 1;
  }
  inv.out << "sent \"" << visible(command) << "\" to " << kControlKey << " (rule " << s.rule->number << ", "
          << visible(s.rule->name) << ")\n";
  // Other senders' answers come under the same key: only this id's counts.
  const int64_t deadline = SystemClock().monotonic_ms() + kActWaitMs;
  InfodUpdate update;
  for (int64_t left = kActWaitMs; left > 0; left = deadline - SystemClock().monotonic_ms()) {
    if (!s.infod.next_update(&update, static_cast<int>(left))) break;
    const std::optional<ControlResult> result = control_result_parse(update.value);
    if (update.key != kControlResultKey || !result || result->id != id) continue;
    if (result->accepted) return 0;
    inv.err << "arctl: the daemon refused the command for " << s.label << ": " << visible(result->reason) << "\n";
    return 1;
  }
  inv.err << "arctl: no answer for " << s.label << " after " << kActWaitMs / 1000
          << " seconds: the daemon did not act on the command ('arctl log' tells why)\n";
  return 1;
}

bool read_restart_rule(InfodConnection& infod, uint32_t rule_number, RestartRule* record) {
  std::optional<std::string> text;
  if (!infod.get(shown_record_key(rule_number), &text)) return false;
  if (!text || !restart_rule_parse(*text, record)) *record = RestartRule();
  return true;
}

bool reference_option(const Invocation& inv, const Command& command, uint32_t* ref) {
  *ref = 0;
  if (!inv.ref) return true;
  const std::string& text = *inv.ref;
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    usage_error(inv.err, "--ref takes a reference number, not \"" + visible(text) + "\"", &command);
    return false;
  }
  *ref = static_cast<uint32_t>(std::stoul(text));
  return true;
}
