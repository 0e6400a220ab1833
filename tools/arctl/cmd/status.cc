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
#include "arctl/json.h"
#include "arctl/rule_status.h"
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
      const std::string since = ref.record ? time_of_ms(ref.record->since_ms) : "-";
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
// the epoch; null where infod holds nothing. A silence's members, in an object already open.
void silence_members(JsonWriter& w, const RestartSilence& silence) {
  w.member("reference", silence.ref);
  json_time_ms(w, "until", silence.until_ms);
  w.member("origin", silence.origin).member("reason", silence.reason);
}

void json_reference(JsonWriter& w, const RuleStatus& rule, const ReferenceStatus& ref) {
  w.object().member("number", ref.number);
  ref.device.empty() ? w.null_member("device") : w.member("device", ref.device);
  w.member("subscribed", ref.subscribed).member("state", ref.state);
  ref.record ? json_time_ms(w, "since", ref.record->since_ms) : void(w.null_member("since"));
  w.member("value", ref.value).key("delayed").array();
  if (ref.record) {
    for (const Start& s : starts_of(*ref.record)) {
      w.object().member("name", s.due->name);
      json_time_ms(w, "due", s.due->due_ms);
      json_time_ms(w, "starts", s.start_ms);
      s.behind.empty() ? w.null_member("behind") : w.member("behind", s.behind);
      w.end();
    }
  }
  w.end();
  for (const auto& [name, ms] : {std::pair<std::string_view, int64_t>{"repeat", ref.record ? ref.record->repeat_ms : 0},
                                 {"timeout_end", ref.record ? ref.record->timeout_end_ms : 0},
                                 {"window_end", ref.record ? ref.record->window_end_ms : 0}}) {
    json_time_ms(w, name, ms);
  }
  if (ref.burst) {
    w.key("burst").object().member("count", ref.burst->count);
    rule.burst_count > 0 ? w.member("of", rule.burst_count) : w.null_member("of");
    rule.burst_count > 0 ? w.member("window", rule.burst_window) : w.null_member("window");
    json_time_ms(w, "since", ref.burst->oldest_ms);
    w.end();
  } else {
    w.null_member("burst");
  }
  if (ref.latest) {
    w.key("latest").object();
    json_time_ms(w, "time", ref.latest->first);
    w.member("value", ref.latest->second).end();
  } else {
    w.null_member("latest");
  }
  if (ref.held_while) {
    w.key("hold").object().member("while", *ref.held_while).key("actions").array();
    for (const std::string& name : ref.held_actions) w.text(name);
    w.end().end();
  } else {
    w.null_member("hold");
  }
  if (ref.silence) {
    w.key("silence").object();
    silence_members(w, *ref.silence);
    w.end();
  } else {
    w.null_member("silence");
  }
  w.end();
}

// One object, on one line per rule: the daemon, its last load, the file,
// then (while it runs) the rules, the queue and the silences.
void print_json(std::ostream& out, const DaemonView& view, const std::string& not_running, const std::string& file,
                bool from_file, const std::vector<RuleStatus>* rules) {
  JsonWriter w(out);
  w.object({"", ",\n ", ""}).key("daemon").object();
  view.pid > 0 ? w.member("pid", view.pid) : w.null_member("pid");
  json_time(w, "started", view.started);
  json_time(w, "heartbeat", view.heartbeat);
  w.member("running", not_running.empty());
  not_running.empty() ? w.null_member("why") : w.member("why", not_running);
  w.end().key("load").object();
  const bool loaded = view.reload_number > 0;
  json_time(w, "time", view.reload_time);
  loaded ? w.member("result", view.reload_result) : w.null_member("result");
  loaded ? w.member("number", view.reload_number) : w.null_member("number");
  json_time(w, "mtime", view.reload_mtime);
  view.reload_checksum.empty() ? w.null_member("checksum") : w.member("checksum", view.reload_checksum);
  view.reload_changes.empty() || view.reload_changes == "-" ? w.null_member("changes")
                                                             : w.member("changes", view.reload_changes);
  w.end().key("file").object().member("path", file).member("as_loaded", from_file).end();
  if (rules == nullptr) {
    w.null_member("rules").between(", ").null_member("queue").null_member("silences").end();
    out << "\n";
    return;
  }
  w.key("rules").array(kJsonLines);
  for (const RuleStatus& rule : *rules) {
    w.object().member("number", rule.number).member("name", rule.name).member("check", rule.check_type);
    w.member("loaded", rule.loaded).key("references").array();
    for (const ReferenceStatus& ref : rule.references) json_reference(w, rule, ref);
    w.end().end();
  }
  w.end().key("queue").array(kJsonLines);
  for (const QueueEntry& q : view.queue) {
    w.object().member("state", q.running ? "running" : "waiting");
    json_time(w, "since", q.since);
    w.member("rule", q.rule_path).member("action", q.action_path).member("name", q.name).end();
  }
  w.end().key("silences").array(kJsonLines);
  for (const RuleStatus& rule : *rules) {
    for (const RestartSilence& silence : rule.silences) {
      w.object().member("rule", rule.number);
      silence_members(w, silence);
      w.end();
    }
  }
  w.end().end();
  out << "\n";
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
    .name = "status",
    .summary = "show what the daemon runs: rules, states, what falls due, last load, queue",
    .options =
        {
            kSocketOption,
            kPidFileOption,
            {.name = "json", .help = "one JSON object for programs instead of the table", .flag = &Invocation::json},
        },
    .description =
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
        "configuration is $XMLDB_PATH, else /etc/config/config.xml.\n",
    .exit_status =
        "Exit status: 0 shown, 1 infod cannot be read or the daemon's last load\n"
        "failed, 3 the daemon is not running: no heartbeat for two ticks (10\n"
        "seconds), or the pid it published is not running or is not the daemon's\n"
        "(as for reload).\n",
    .run = run_status,
};
