// `arctl cancel RULE`: the cancel control command for one rule.
#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/rules.h"
#include "arctl/text.h"
#include "config/autoresponse.h"
#include "engine/control.h"

namespace {

// Whether name can stand as who asks in the command: the daemon splits the
// command at commas, and a control character has no place in a log line.
bool fits_command(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c == ',' || c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

// Who asks, as the daemon logs it ("Control Message from NAME: ..."):
// --as, else the user sudo ran arctl for, else the login name of the real
// user (its number when the system has no name for it). null, after a
// usage error on err, when that cannot stand in the command.
std::optional<std::string> origin_of(const Invocation& inv) {
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
  if (fits_command(name)) return name;
  usage_error(inv.err, what + " \"" + visible(name) + "\" cannot name who cancels: it is empty or holds a comma or " +
                           "a control character" + (inv.as ? "" : "; give another with --as NAME"),
              &kCancelCommand);
  return std::nullopt;
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!isdigit(c)) return false;
  }
  return true;
}

// The rule that word names by its number, its path or its name; null
// after saying on err why there is none.
const OfflineRule* find_rule(const OfflineConfig& config, const std::string& word, std::ostream& err) {
  std::string number;
  if (all_digits(word)) {
    number = word;
  } else if (word.compare(0, strlen(kRulePathPrefix), kRulePathPrefix) == 0 && all_digits(word.substr(strlen(kRulePathPrefix)))) {
    number = word.substr(strlen(kRulePathPrefix));
  }
  std::vector<const OfflineRule*> found;
  for (const OfflineRule& rule : config.rules()) {
    if (number.empty() ? rule.name == word : std::to_string(rule.index) == number) found.push_back(&rule);
  }
  if (found.size() == 1) return found[0];
  if (found.empty()) {
    err << "arctl: the configuration has no rule " << (number.empty() ? "named " + visible(word) : number)
        << " ('arctl status' lists them)\n";
  } else {
    err << "arctl: " << found.size() << " rules are named " << visible(word) << " (";
    for (size_t i = 0; i < found.size(); ++i) err << (i > 0 ? ", " : "") << found[i]->index;
    err << "); give its number\n";
  }
  return nullptr;
}

int run_cancel(Invocation& inv) {
  const std::optional<std::string> origin = origin_of(inv);
  if (!origin) return 2;
  const std::unique_ptr<OfflineConfig> config = load_rules(inv.err);
  if (!config) return 1;
  const OfflineRule* rule = find_rule(*config, inv.words[0], inv.err);
  if (rule == nullptr) return 1;
  // The daemon acts on the first reference it made; without one it has
  // nothing the command could reach.
  const OfflineReference* first = nullptr;
  for (const OfflineReference& ref : rule->references) {
    if (first == nullptr && ref.subscribed) first = &ref;
  }
  const std::string label = "rule " + std::to_string(rule->index) + " (" + visible(rule->name) + ")";
  if (!rule->loaded || first == nullptr) {
    inv.err << "arctl: the daemon does not load " << label << " ('arctl check' tells why); nothing sent\n";
    return 1;
  }

  InfodConnection infod;
  std::string error;
  if (!infod.open(inv.socket, &error)) {
    inv.err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  std::optional<std::string> state;
  const bool known = infod.get(state_key(*rule, first->number), &state);
  const std::string command = rule->path + "," + *origin + ",cancel";
  if (!infod.push(kControlTable.key, 0, command)) {
    inv.err << "arctl: could not send to infod at " << visible(inv.socket) << "\n";
    return 1;
  }
  inv.out << "sent \"" << visible(command) << "\" to " << kControlTable.key << " (rule " << rule->index << ", "
          << visible(rule->name) << ")\n";
  if (known && state && *state != "Triggered" && *state != "Resolving") {
    inv.err << "arctl: note: reference " << first->number << " of " << label << " is " << visible(*state)
            << "; the daemon cancels only a Triggered or Resolving rule and ignores this\n";
  }
  return 0;
}

}  // namespace

const Command kCancelCommand = {
    "cancel",
    "[--socket PATH] [--as NAME] RULE",
    "cancel a triggered rule, by name or number",
    "Sends the daemon the cancel command for RULE, given by its name, its\n"
    "number N or its path config.autoresponse.autoresponseN, and prints what it\n"
    "sent. A Triggered or Resolving rule (its first reference) then queues no\n"
    "further actions and waits out its reset_timeout before it is Normal again;\n"
    "actions already queued or running go on. The command written into infod's\n"
    "key config.autoresponse.command is PATH,NAME,cancel, and the daemon logs\n"
    "NAME as who cancelled: the login name of the user running arctl, or the\n"
    "user who ran it through sudo ($SUDO_USER). The configuration is\n"
    "$XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "  --as NAME       who cancels, instead of the user; not empty, and no\n"
    "                  comma or control character\n"
    "\n"
    "Exit status: 0 sent, 1 no such rule, or infod cannot be reached, 2 a\n"
    "command line that is not understood or a NAME that cannot be sent.\n",
    kOptionSocket | kOptionAs,
    1,
    1,
    run_cancel,
};
