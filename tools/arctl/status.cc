// `arctl status`: every rule and reference of the configuration with the
// state and current value the daemon publishes in infod.
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/rules.h"
#include "arctl/text.h"

namespace {

int run_status(Invocation& inv) {
  InfodConnection infod;
  std::string error;
  if (!infod.open(inv.socket, &error)) {
    inv.err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  const std::unique_ptr<OfflineConfig> config = load_rules(inv.err);
  if (!config) return 1;

  std::vector<std::vector<std::string>> rows = {{"#", "NAME", "CHECK", "REFERENCE", "STATE", "VALUE"}};
  size_t not_loaded = 0, published = 0, subscribed = 0;
  // A value infod holds, made visible; "-" for none.
  auto read = [&](const std::string& key, std::string* cell) {
    std::optional<std::string> value;
    if (!infod.get(key, &value)) return false;
    *cell = value ? visible(*value) : "-";
    return true;
  };
  for (const OfflineRule& rule : config->rules()) {
    const std::string index = std::to_string(rule.index);
    const std::string name = rule.name.empty() ? "-" : visible(rule.name);
    const std::string check = rule.check_type.empty() ? "-" : visible(rule.check_type);
    if (!rule.loaded) {
      rows.push_back({index, name, check, "-", "not loaded", "-"});
      ++not_loaded;
      continue;
    }
    for (const OfflineReference& ref : rule.references) {
      std::string reference = std::to_string(ref.number);
      if (!ref.device.empty()) reference += " " + visible(ref.device);
      std::string state = "no subscription", value = "-";
      if (ref.subscribed) {
        ++subscribed;
        if (!read(state_key(rule, ref.number), &state) || !read(value_key(rule, ref.number), &value)) {
          inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
          return 1;
        }
        if (state != "-") ++published;
      } else {
        ++not_loaded;
      }
      rows.push_back({index, name, check, reference, state, value});
    }
  }
  if (rows.size() == 1) {
    inv.out << "no rules are configured\n";
    return 0;
  }
  print_table(inv.out, rows);
  if (not_loaded > 0) inv.err << "arctl: the daemon does not load some rules or references; 'arctl check' tells why\n";
  if (subscribed > 0 && published == 0) {
    inv.err << "arctl: infod holds no state for any rule: is autoresponsed running, with this configuration?\n";
  }
  return 0;
}

}  // namespace

const Command kStatusCommand = {
    "status",
    "[--socket PATH]",
    "show every rule's state and current value",
    "Prints one line per rule and reference of the configuration: the rule's\n"
    "number and name, its check type, the reference (its number and the device\n"
    "it watches), and the state and current value that the daemon publishes in\n"
    "infod. Control characters in values are shown as escapes (\\x1e, \\n).\n"
    "A state of - means infod holds none (the daemon has not published one).\n"
    "The configuration is $XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 shown, 1 infod or the configuration cannot be read.\n",
    kOptionSocket,
    0,
    0,
    run_status,
};
