// `arctl status`: what the daemon runs: every rule and reference it loaded
// with the state and current value it publishes, its last load and its
// action queue.
#include <ctime>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/daemon_view.h"
#include "arctl/infod.h"
#include "arctl/rules.h"
#include "arctl/text.h"
#include "config/config_file.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct StatusRun {
  Invocation& inv;
  InfodConnection infod;
  Rows rows = {{"#", "NAME", "CHECK", "REFERENCE", "STATE", "VALUE"}};
  size_t not_loaded = 0;

  // The state and current value of a reference, made visible; "-" for none.
  bool read(const std::string& rule_path, uint32_t reference, std::string* state, std::string* value) {
    std::optional<std::string> s, v;
    if (!infod.get(reference_state_key(rule_path, reference), &s) ||
        !infod.get(reference_value_key(rule_path, reference), &v)) {
      inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
      return false;
    }
    *state = s ? visible(*s) : "-";
    *value = v ? visible(*v) : "-";
    return true;
  }

  // The file's rules, which are the ones the daemon loaded.
  bool rows_of_file(const OfflineConfig& config) {
    for (const OfflineRule& rule : config.rules()) {
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
        if (ref.subscribed && !read(rule.path, ref.number, &state, &value)) return false;
        if (!ref.subscribed) ++not_loaded;
        rows.push_back({index, name, check, reference, state, value});
      }
    }
    return true;
  }

  // The rules as the daemon names them, when the file no longer says.
  bool rows_of_daemon(const DaemonView& view) {
    for (const LoadedRule& rule : view.loaded) {
      const std::string index = std::to_string(rule.number);
      const std::string name = rule.name.empty() ? "-" : visible(rule.name);
      if (rule.references.empty()) rows.push_back({index, name, visible(rule.check_type), "-", "no reference", "-"});
      for (const uint32_t ref : rule.references) {
        std::string state, value;
        if (!read(loaded_rule_path(rule), ref, &state, &value)) return false;
        rows.push_back({index, name, visible(rule.check_type), std::to_string(ref), state, value});
      }
    }
    return true;
  }

  void print_queue(const DaemonView& view) {
    size_t running = 0;
    for (const QueueEntry& q : view.queue) running += q.running ? 1 : 0;
    inv.out << "\nqueue: " << running << " running, " << view.queue.size() - running << " waiting\n";
    if (view.queue.empty()) return;
    Rows queue = {{"STATE", "SINCE", "RULE", "ACTION"}};
    for (const QueueEntry& q : view.queue) {
      std::string rule = q.rule_path;
      for (const LoadedRule& r : view.loaded) {
        if (loaded_rule_path(r) == q.rule_path) rule = std::to_string(r.number) + " " + visible(r.name);
      }
      queue.push_back({q.running ? "running" : "waiting", local_time_text(q.since), rule, visible(q.action_path)});
    }
    print_table(inv.out, queue);
  }
};

int run_status(Invocation& inv) {
  StatusRun run{inv, {}};
  DaemonView view;
  if (const int status = reach_running_daemon(inv.socket, &run.infod, &view, inv.err); status != 0) return status;
  // The file's names and devices are shown only while the file is the one
  // the daemon loaded; otherwise what the daemon runs, as it names it.
  const std::string file = default_config_file();
  const ConfigFileFacts facts = config_file_facts(file);
  const bool same = facts.readable && facts.mtime == view.reload_mtime && facts.checksum == view.reload_checksum;
  const OfflineConfig config(file);
  const bool from_file = same && config.ok();
  if (from_file ? !run.rows_of_file(config) : !run.rows_of_daemon(view)) return 1;

  if (run.rows.size() == 1) {
    inv.out << "no rules are loaded\n";
  } else {
    print_table(inv.out, run.rows);
  }
  inv.out << "\nlast load: " << local_time_text(view.reload_time) << ": " << visible(view.reload_result) << "\n";
  if (!from_file && config.ok()) {
    inv.out << "the file " << visible(file) << " changed since the daemon loaded it at "
            << local_time_text(view.reload_time) << "; 'arctl reload' applies it\n";
  } else if (!from_file) {
    inv.out << "the file " << visible(file) << " cannot be read as a configuration ('arctl check' tells why); "
            << "these are the rules the daemon runs\n";
  }
  run.print_queue(view);
  if (run.not_loaded > 0) inv.err << "arctl: the daemon does not load some rules or references; 'arctl check' tells why\n";
  return 0;
}

}  // namespace

const Command kStatusCommand = {
    "status",
    "[--socket PATH]",
    "show what the daemon runs: rules, states, its last load and queue",
    "Prints one line per rule and reference the running daemon loaded: the\n"
    "rule's number and name, its check type, the reference (its number and the\n"
    "device it watches), and the state and current value the daemon publishes\n"
    "in infod; then the time and result of the daemon's last load, and the\n"
    "actions waiting and running in its queue. While the configuration file is\n"
    "the one the daemon loaded, names and devices come from it; after an edit\n"
    "not yet applied ('arctl reload'), or when the file cannot be read, the\n"
    "rules are shown as the daemon names them. Control characters in values\n"
    "are shown as escapes (\\x1e, \\n). A state of - means infod holds none.\n"
    "The configuration is $XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 shown, 1 infod cannot be read, 3 the daemon is not running\n"
    "(no heartbeat for two ticks, 10 seconds).\n",
    kOptionSocket,
    0,
    0,
    run_status,
};
