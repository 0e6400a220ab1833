// `arctl cancel RULE`: the cancel control command for one rule.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/rules.h"
#include "arctl/text.h"
#include "config/autoresponse.h"
#include "engine/control.h"

namespace {

// Who asks, as the daemon logs it: "Control Message from arctl: ...".
constexpr const char* kOrigin = "arctl";

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
  const std::string command = rule->path + "," + kOrigin + ",cancel";
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
    "[--socket PATH] RULE",
    "cancel a triggered rule, by name or number",
    "Sends the daemon the cancel command for RULE, given by its name, its\n"
    "number N or its path config.autoresponse.autoresponseN, and prints what it\n"
    "sent. A Triggered or Resolving rule (its first reference) then queues no\n"
    "further actions and waits out its reset_timeout before it is Normal again;\n"
    "actions already queued or running go on. The command written into infod's\n"
    "key config.autoresponse.command is PATH,arctl,cancel. The configuration is\n"
    "$XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 sent, 1 no such rule, or infod cannot be reached.\n",
    kOptionSocket,
    1,
    1,
    run_cancel,
};
