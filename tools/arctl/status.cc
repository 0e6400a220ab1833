// `arctl status [--json]`: what the daemon runs: every rule and reference
// it loaded with the state and current value it publishes, since when and
// what falls due next from the rule's kept record, silences, its last load
// and its action queue.
#include <algorithm>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/daemon_view.h"
#include "arctl/infod.h"
#include "arctl/rule_status.h"
#include "arctl/rules.h"
#include "arctl/text.h"
#include "config/config_file.h"
#include "daemon/daemon_status.h"
#include "engine/restart_record.h"
#include "engine/state.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

// The table, each reference's notes indented below its line under NAME.
void print_rules(std::ostream& out, const std::vector<RuleStatus>& rules) {
  Rows rows = {{"#", "NAME", "CHECK", "REFERENCE", "STATE", "SINCE", "VALUE"}};
  std::vector<std::vector<std::string>> notes(1);
  for (const RuleStatus& rule : rules) {
    const std::string index = std::to_string(rule.number);
    const std::string name = rule.name.empty() ? "-" : visible(rule.name);
    const std::string check = rule.check_type.empty() ? "-" : visible(rule.check_type);
    if (!rule.loaded || rule.references.empty()) {
      rows.push_back({index, name, check, "-", rule.loaded ? "no reference" : "not loaded", "-", "-"});
      notes.emplace_back();
    }
    for (const ReferenceStatus& ref : rule.references) {
      std::string reference = std::to_string(ref.number);
      if (!ref.device.empty()) reference += " " + visible(ref.device);
      const std::string state = !ref.subscribed ? "no subscription" : ref.state ? visible(*ref.state) : "-";
      const std::string since = ref.kept ? time_of_ms(ref.kept->since_ms) : "-";
      rows.push_back({index, name, check, reference, state, since, ref.value ? visible(*ref.value) : "-"});
      notes.push_back(notes_of(rule, ref));
    }
  }
  if (rows.size() == 1) {
    out << "no rules are loaded\n";
    return;
  }
  size_t first_column = 0;
  for (const auto& row : rows) first_column = std::max(first_column, display_width(row[0]));
  const std::string indent(first_column + 2, ' ');
  std::ostringstream table;
  print_table(table, rows);
  std::istringstream lines(table.str());
  std::string line;
  for (size_t i = 0; std::getline(lines, line); ++i) {
    out << line << '\n';
    for (const std::string& note : notes[i]) out << indent << note << '\n';
  }
}

void print_queue(std::ostream& out, const DaemonView& view) {
  size_t running = 0;
  for (const QueueEntry& q : view.queue) running += q.running ? 1 : 0;
  out << "\nqueue: " << running << " running, " << view.queue.size() - running << " waiting\n";
  if (view.queue.empty()) return;
  Rows queue = {{"STATE", "SINCE", "RULE", "ACTION"}};
  for (const QueueEntry& q : view.queue) {
    std::string rule = q.rule_path;
    for (const LoadedRule& r : view.loaded) {
      if (loaded_rule_path(r) == q.rule_path) rule = std::to_string(r.number) + " " + visible(r.name);
    }
    queue.push_back({q.running ? "running" : "waiting", local_time_text(q.since), rule,
                     visible(q.name.empty() ? q.action_path : q.name)});
  }
  print_table(out, queue);
}

// JSON for programs: texts as they are, escaped; a time in seconds since
// the epoch; null where infod holds nothing.
std::string json_text(const std::optional<std::string>& text) { return text ? json_string(*text) : "null"; }
std::string json_time(int64_t seconds) { return seconds > 0 ? std::to_string(seconds) : "null"; }
std::string json_time_ms(int64_t ms) { return ms != 0 ? std::to_string(ms / 1000) : "null"; }

std::string json_silence(const RestartSilence& silence) {
  return "{\"reference\": " + std::to_string(silence.ref) + ", \"until\": " + json_time_ms(silence.until_ms) +
         ", \"origin\": " + json_string(silence.origin) + ", \"reason\": " + json_string(silence.reason) + "}";
}

std::string json_reference(const RuleStatus& rule, const ReferenceStatus& ref) {
  std::string out = "{\"number\": " + std::to_string(ref.number) +
                    ", \"device\": " + (ref.device.empty() ? "null" : json_string(ref.device)) +
                    ", \"subscribed\": " + (ref.subscribed ? "true" : "false") +
                    ", \"state\": " + json_text(ref.state) +
                    ", \"since\": " + (ref.kept ? json_time_ms(ref.kept->since_ms) : "null") +
                    ", \"value\": " + json_text(ref.value) + ", \"delayed\": [";
  if (ref.kept) {
    const std::vector<Start> starts = starts_of(*ref.kept);
    for (size_t i = 0; i < starts.size(); ++i) {
      const Start& s = starts[i];
      out += std::string(i > 0 ? ", " : "") + "{\"name\": " + json_string(s.due->name) +
             ", \"due\": " + json_time_ms(s.due->due_ms) + ", \"starts\": " + json_time_ms(s.start_ms) +
             ", \"behind\": " + (s.behind.empty() ? "null" : json_string(s.behind)) + "}";
    }
  }
  out += "], \"repeat\": " + (ref.kept ? json_time_ms(ref.kept->repeat_ms) : "null");
  out += ", \"timeout_end\": " + (ref.kept ? json_time_ms(ref.kept->timeout_end_ms) : "null");
  out += ", \"window_end\": " + (ref.kept ? json_time_ms(ref.kept->window_end_ms) : "null");
  out += ", \"burst\": ";
  if (ref.burst) {
    out += "{\"count\": " + std::to_string(ref.burst->count) +
           ", \"of\": " + (rule.burst_count > 0 ? std::to_string(rule.burst_count) : "null") +
           ", \"window\": " + (rule.burst_count > 0 ? std::to_string(rule.burst_window) : "null") +
           ", \"since\": " + json_time_ms(ref.burst->oldest_ms) + "}";
  } else {
    out += "null";
  }
  out += ", \"latest\": ";
  out += ref.latest ? "{\"time\": " + json_time_ms(ref.latest->first) + ", \"value\": " +
                          json_string(ref.latest->second) + "}"
                    : "null";
  out += ", \"hold\": ";
  if (ref.held_while) {
    out += "{\"while\": " + json_string(*ref.held_while) + ", \"actions\": [";
    for (size_t i = 0; i < ref.held_actions.size(); ++i) out += (i > 0 ? ", " : "") + json_string(ref.held_actions[i]);
    out += "]}";
  } else {
    out += "null";
  }
  out += ", \"silence\": " + (ref.silence ? json_silence(*ref.silence) : "null") + "}";
  return out;
}

// One object, on one line per rule: the daemon, its last load, the file,
// then (while it runs) the rules, the queue and the silences.
void print_json(std::ostream& out, const DaemonView& view, const std::string& not_running, const std::string& file,
                bool from_file, const std::vector<RuleStatus>* rules) {
  out << "{\"daemon\": {\"pid\": " << (view.pid > 0 ? std::to_string(view.pid) : "null")
      << ", \"started\": " << json_time(view.started) << ", \"heartbeat\": " << json_time(view.heartbeat)
      << ", \"running\": " << (not_running.empty() ? "true" : "false")
      << ", \"why\": " << (not_running.empty() ? "null" : json_string(not_running)) << "},\n";
  const bool loaded = view.reload_number > 0;
  out << " \"load\": {\"time\": " << json_time(view.reload_time)
      << ", \"result\": " << (loaded ? json_string(view.reload_result) : "null")
      << ", \"number\": " << (loaded ? std::to_string(view.reload_number) : "null")
      << ", \"mtime\": " << json_time(view.reload_mtime)
      << ", \"checksum\": " << (view.reload_checksum.empty() ? "null" : json_string(view.reload_checksum))
      << ", \"changes\": "
      << (view.reload_changes.empty() || view.reload_changes == "-" ? "null" : json_string(view.reload_changes))
      << "},\n";
  out << " \"file\": {\"path\": " << json_string(file) << ", \"as_loaded\": " << (from_file ? "true" : "false")
      << "},\n";
  if (rules == nullptr) {
    out << " \"rules\": null, \"queue\": null, \"silences\": null}\n";
    return;
  }
  out << " \"rules\": [";
  std::string silences;
  for (size_t i = 0; i < rules->size(); ++i) {
    const RuleStatus& rule = (*rules)[i];
    out << (i > 0 ? ",\n  " : "\n  ") << "{\"number\": " << rule.number << ", \"name\": " << json_string(rule.name)
        << ", \"check\": " << json_string(rule.check_type) << ", \"loaded\": " << (rule.loaded ? "true" : "false")
        << ", \"references\": [";
    for (size_t k = 0; k < rule.references.size(); ++k) {
      out << (k > 0 ? ", " : "") << json_reference(rule, rule.references[k]);
    }
    out << "]}";
    for (const RestartSilence& silence : rule.silences) {
      silences += std::string(silences.empty() ? "\n  " : ",\n  ") + "{\"rule\": " + std::to_string(rule.number) +
                  ", " + json_silence(silence).substr(1);
    }
  }
  out << (rules->empty() ? "],\n" : "\n ],\n") << " \"queue\": [";
  for (size_t i = 0; i < view.queue.size(); ++i) {
    const QueueEntry& q = view.queue[i];
    out << (i > 0 ? ",\n  " : "\n  ") << "{\"state\": " << (q.running ? "\"running\"" : "\"waiting\"")
        << ", \"since\": " << json_time(q.since) << ", \"rule\": " << json_string(q.rule_path)
        << ", \"action\": " << json_string(q.action_path) << ", \"name\": " << json_string(q.name) << "}";
  }
  out << (view.queue.empty() ? "],\n" : "\n ],\n") << " \"silences\": [" << silences
      << (silences.empty() ? "]}\n" : "\n ]}\n");
}

int run_status(Invocation& inv) {
  InfodConnection infod;
  DaemonView view;
  if (const int status = reach_daemon_view(inv.socket, &infod, &view, inv.err); status != 0) return status;
  // Not running at once when the pid is gone or another process's, not
  // only once the heartbeat is two ticks old.
  const std::string not_running = !view.alive(time(nullptr)) || view.pid <= 0
                                      ? not_running_reason(view)
                                      : unproven_daemon(view, pid_file_of(inv));
  // The file's names and devices are shown only while the file is the one
  // the daemon loaded; otherwise what the daemon runs, as it names it.
  const std::string file = default_config_file();
  const ConfigFileFacts facts = config_file_facts(file);
  const bool same = facts.readable && facts.mtime == view.reload_mtime && facts.checksum == view.reload_checksum;
  if (!not_running.empty()) {
    if (inv.json) print_json(inv.out, view, not_running, file, same, nullptr);
    inv.err << "arctl: daemon not running: " << not_running << "\n";
    return kExitNotRunning;
  }
  const OfflineConfig config(file);
  const bool from_file = same && config.ok();
  std::vector<RuleStatus> rules = from_file ? rules_of_file(config) : rules_of_daemon(view);
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  if (!read_rules(infod, view, &rules, int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  size_t not_loaded = 0;
  for (const RuleStatus& rule : rules) {
    not_loaded += rule.loaded ? 0 : 1;
    for (const ReferenceStatus& ref : rule.references) not_loaded += ref.subscribed ? 0 : 1;
  }

  if (inv.json) {
    print_json(inv.out, view, "", file, from_file, &rules);
  } else {
    print_rules(inv.out, rules);
    inv.out << "\nlast load: " << local_time_text(view.reload_time) << ": " << visible(view.reload_result) << "\n";
    if (!from_file && config.ok()) {
      inv.out << "the file " << visible(file) << " changed since the daemon loaded it at "
              << local_time_text(view.reload_time) << "; 'arctl reload' applies it\n";
    } else if (!from_file) {
      inv.out << "the file " << visible(file) << " cannot be read as a configuration ('arctl check' tells why); "
              << "these are the rules the daemon runs\n";
    }
    print_queue(inv.out, view);
  }
  if (not_loaded > 0) inv.err << "arctl: the daemon does not load some rules or references; 'arctl check' tells why\n";
  if (!view.reload_result.empty() && view.reload_result != "ok") {
    inv.err << "arctl: the daemon's last load failed; it runs the rules it loaded before\n";
    return 1;
  }
  return 0;
}

}  // namespace

const Command kStatusCommand = {
    "status",
    "[--socket PATH] [--pid-file PATH] [--json]",
    "show what the daemon runs: rules, states, what falls due, last load, queue",
    "Prints one line per rule and reference the running daemon loaded: the\n"
    "rule's number and name, its check type, the reference (its number and the\n"
    "device it watches), and the state and current value the daemon publishes\n"
    "in infod with the time it entered that state; below a reference, each\n"
    "delayed action still waiting with the time it falls due (and, held behind\n"
    "an earlier one, when it can start), the next repeat, the end of a Timeout\n"
    "or of a disable window, a burst's count so far, the latest update of its\n"
    "key with its time when that is not the value shown or came while the\n"
    "reference takes none, and a silence with its end, who set it and why.\n"
    "Then the time and result of the daemon's last load, and the actions\n"
    "waiting and running in its queue, by their names. While the\n"
    "configuration file is the one the daemon loaded, names, devices and\n"
    "burst settings come from it; after an edit not yet applied ('arctl\n"
    "reload'), or when the file cannot be read, the rules are shown as the\n"
    "daemon names them. Control characters in values are shown as escapes\n"
    "(\\x1e, \\n). A state or time of - means infod holds none. The\n"
    "configuration is $XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --socket PATH     infod's socket (default /var/run/infod-sock)\n"
    "  --pid-file PATH   the daemon's pid file (default /var/run/autoresponsed.pid)\n"
    "  --json            one JSON object for programs instead of the table\n"
    "\n"
    "Exit status: 0 shown, 1 infod cannot be read or the daemon's last load\n"
    "failed, 3 the daemon is not running: no heartbeat for two ticks (10\n"
    "seconds), or the pid it published is not running or is not the daemon's\n"
    "(as for reload).\n",
    kOptionSocket | kOptionPidFile | kOptionJson,
    0,
    0,
    run_status,
};
