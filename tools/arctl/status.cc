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
#include "arctl/rules.h"
#include "arctl/text.h"
#include "config/config_file.h"
#include "daemon/daemon_status.h"
#include "engine/restart_record.h"
#include "engine/state.h"

namespace {

using Rows = std::vector<std::vector<std::string>>;

struct ReferenceStatus {
  uint32_t number = 0;
  std::string device;       // "" when the file does not say, or it has none of its own
  bool subscribed = true;   // the daemon made it
  std::optional<std::string> state, value;  // as infod holds them
  // The rule's record of the reference, when it is of the state published:
  // a record a moment behind the state tells nothing about it.
  std::optional<RestartReference> kept;
  std::optional<RestartSilence> silence;  // in force now
  // The latest update of its key, taken or dropped: its wall time in
  // milliseconds and its value.
  std::optional<std::pair<int64_t, std::string>> latest;
  std::optional<BurstEntry> burst;  // counting now
};

struct RuleStatus {
  uint32_t number = 0;
  std::string path, name, check_type;
  bool loaded = true;
  int32_t burst_count = 0, burst_window = 0;  // 0 when the file does not say
  std::vector<ReferenceStatus> references;
  std::vector<RestartSilence> silences;  // in force now
};

// The rules as the file names them, which are the ones the daemon loaded.
std::vector<RuleStatus> rules_of_file(const OfflineConfig& config) {
  std::vector<RuleStatus> rules;
  for (const OfflineRule& rule : config.rules()) {
    RuleStatus& r = rules.emplace_back();
    r.number = static_cast<uint32_t>(rule.index);
    r.path = rule.path;
    r.name = rule.name;
    r.check_type = rule.check_type;
    r.loaded = rule.loaded;
    r.burst_count = rule.burst_count;
    r.burst_window = rule.burst_window;
    if (!rule.loaded) continue;
    for (const OfflineReference& ref : rule.references) {
      ReferenceStatus& s = r.references.emplace_back();
      s.number = ref.number;
      s.device = ref.device;
      s.subscribed = ref.subscribed;
    }
  }
  return rules;
}

// The rules as the daemon names them, when the file no longer says.
std::vector<RuleStatus> rules_of_daemon(const DaemonView& view) {
  std::vector<RuleStatus> rules;
  for (const LoadedRule& rule : view.loaded) {
    RuleStatus& r = rules.emplace_back();
    r.number = rule.number;
    r.path = loaded_rule_path(rule);
    r.name = rule.name;
    r.check_type = rule.check_type;
    for (const uint32_t ref : rule.references) r.references.emplace_back().number = ref;
  }
  return rules;
}

std::string latest_key(uint32_t rule, uint32_t ref) {
  return daemon_status_key(kStatusLatest) + "." + std::to_string(rule) + "." + std::to_string(ref);
}

// Reads every reference's state, current value and latest update and every
// rule's kept record with one pipelined round of gets; false when infod
// does not answer.
bool read_rules(InfodConnection& infod, const DaemonView& view, std::vector<RuleStatus>* rules, int64_t now_ms) {
  std::vector<std::string> keys;
  for (const RuleStatus& rule : *rules) {
    if (!rule.loaded) continue;
    keys.push_back(shown_record_key(rule.number));
    for (const ReferenceStatus& ref : rule.references) {
      if (!ref.subscribed) continue;
      keys.push_back(reference_state_key(rule.path, ref.number));
      keys.push_back(reference_value_key(rule.path, ref.number));
      keys.push_back(latest_key(rule.number, ref.number));
    }
  }
  std::vector<std::optional<std::string>> values;
  if (!infod.get_many(keys, &values)) return false;
  auto value = values.begin();
  for (RuleStatus& rule : *rules) {
    if (!rule.loaded) continue;
    // "-", or no record at all: the daemon keeps nothing of the rule.
    RestartRule record;
    const std::optional<std::string>& text = *value++;
    if (!text || !restart_rule_parse(*text, &record)) record = RestartRule();
    for (const RestartSilence& silence : record.silences) {
      if (silence.until_ms > now_ms) rule.silences.push_back(silence);
    }
    for (ReferenceStatus& ref : rule.references) {
      if (!ref.subscribed) continue;
      ref.state = std::move(*value++);
      ref.value = std::move(*value++);
      const std::optional<std::string>& latest = *value++;
      if (latest) ref.latest = parse_latest_update(*latest);
      for (const BurstEntry& burst : view.bursts) {
        if (burst.rule == rule.number && burst.ref == ref.number) ref.burst = burst;
      }
      for (const RestartReference& kept : record.refs) {
        if (kept.ref == ref.number && ref.state == std::string(ar_state_name(kept.state))) ref.kept = kept;
      }
      for (const RestartSilence& silence : rule.silences) {
        if (silence.ref == 0 || silence.ref == ref.number) ref.silence = silence;
      }
    }
  }
  return true;
}

// Milliseconds since the epoch as the seconds arctl shows.
int64_t seconds_of(int64_t ms) { return ms / 1000; }

std::string time_of_ms(int64_t ms) { return local_time_text(seconds_of(ms)); }

// The waiting delayed actions of a reference in list order, each with
// when it can really start: the daemon offers them strictly in order, so
// one waits for every action before it to fall due; and the name of the
// one it waits for, "" when it waits for none.
struct Start {
  const RestartDue* due;
  int64_t start_ms;
  std::string behind;
};

std::vector<Start> starts_of(const RestartReference& kept) {
  std::vector<const RestartDue*> in_order;
  for (const RestartDue& due : kept.delayed) in_order.push_back(&due);
  std::stable_sort(in_order.begin(), in_order.end(),
                   [](const RestartDue* a, const RestartDue* b) { return a->action < b->action; });
  std::vector<Start> out;
  const RestartDue* latest = nullptr;
  for (const RestartDue* due : in_order) {
    if (latest == nullptr || due->due_ms >= latest->due_ms) latest = due;
    out.push_back({due, latest->due_ms, latest == due ? "" : latest->name});
  }
  return out;
}

// Whether the latest update tells what the table does not: another value
// than the one shown, or one that came while its reference takes none.
bool latest_worth_a_note(const ReferenceStatus& ref) {
  if (!ref.latest) return false;
  if (!ref.value || *ref.value != ref.latest->second) return true;
  const bool deaf = ref.state && (*ref.state == "Timeout" || *ref.state == "Disabled");
  return deaf && ref.kept && ref.latest->first > ref.kept->since_ms;
}

std::string burst_note(const RuleStatus& rule, const BurstEntry& burst) {
  std::string note = "burst: " + std::to_string(burst.count);
  note += rule.burst_count > 0 ? " of " + std::to_string(rule.burst_count) + " within " +
                                     std::to_string(rule.burst_window) + " s"
                               : " counted";
  return note + ", since " + time_of_ms(burst.oldest_ms);
}

// What falls due next for a reference, its burst, its latest update and its
// silence, a line each.
std::vector<std::string> notes_of(const RuleStatus& rule, const ReferenceStatus& ref) {
  std::vector<std::string> notes;
  if (ref.kept) {
    for (const Start& s : starts_of(*ref.kept)) {
      std::string note = "delayed action '" + visible(s.due->name) + "' due at " + time_of_ms(s.due->due_ms);
      if (!s.behind.empty()) note += ", held behind '" + visible(s.behind) + "' until " + time_of_ms(s.start_ms);
      notes.push_back(note);
    }
    if (ref.kept->repeat_ms != 0) notes.push_back("next repeat at " + time_of_ms(ref.kept->repeat_ms));
    if (ref.kept->timeout_end_ms != 0) notes.push_back("Timeout ends at " + time_of_ms(ref.kept->timeout_end_ms));
    if (ref.kept->window_end_ms != 0) notes.push_back("window ends at " + time_of_ms(ref.kept->window_end_ms));
  }
  if (ref.burst) notes.push_back(burst_note(rule, *ref.burst));
  if (latest_worth_a_note(ref)) {
    notes.push_back("latest update " + visible(ref.latest->second) + " at " + time_of_ms(ref.latest->first));
  }
  if (ref.silence) {
    std::string note = "silenced until " + time_of_ms(ref.silence->until_ms) + " by " + visible(ref.silence->origin);
    if (!ref.silence->reason.empty()) note += ": " + visible(ref.silence->reason);
    notes.push_back(note);
  }
  return notes;
}

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
std::string json_time_ms(int64_t ms) { return ms != 0 ? std::to_string(seconds_of(ms)) : "null"; }

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
