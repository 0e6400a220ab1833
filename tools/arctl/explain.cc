// `arctl explain RULE [--ref N] [--json]`: why each reference of a rule is
// in its state and what would change it.
#include "arctl/explain.h"

#include <algorithm>
#include <ctime>

#include "actions/queue.h"
#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/infod.h"
#include "arctl/offline.h"
#include "arctl/steer.h"
#include "arctl/text.h"
#include "base/clock.h"
#include "config/config_file.h"
#include "config/loader.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/restart.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "platform/xmldb.h"

namespace {

// The settings of the rule's check as they stand, "NAME=VALUE, ...".
std::string settings_of(const AutoResponse& ar) {
  std::string out;
  if (ar.kind == nullptr || ar.kind->settings == nullptr) return out;
  for (const char* const* s = ar.kind->settings; *s != nullptr; ++s) {
    const std::string setting = *s;
    if (setting.find('#') != std::string::npos) continue;  // numbered ones: the references' own
    const std::string value = xmldb_getstring(ar.config_db, ar.path.c_str(), setting.c_str());
    if (value.empty()) continue;
    out += (out.empty() ? "" : ", ") + setting + "=" + value;
  }
  return out;
}

// check as it is in state with current, for a moment: how its check judges
// latest, and what it measures against what. A reference that takes no
// updates now is judged as the Normal it comes back as.
void judge(ArCheck* check, ArCheckState state, const CheckEvent* current, const CheckEvent& latest,
           ExplainedReference* out) {
  const ArCheckState was = check->state;
  CheckEventPtr was_current = std::move(check->current_event);
  const bool takes = state == kArNormal || state == kArTriggered;
  check->state = takes ? state : kArNormal;
  if (takes && state == kArTriggered && current != nullptr) check->current_event = std::make_unique<CheckEvent>(*current);
  if (check->conf.ops != nullptr && check->conf.ops->on_event != nullptr) out->judged = check->conf.ops->on_event(check, latest);
  check->current_event = std::make_unique<CheckEvent>(latest);
  OptionalText property, trigger;
  if (check->conf.ops != nullptr && check->conf.ops->describe_trigger != nullptr &&
      check->conf.ops->describe_trigger(check, nullptr, &property, &trigger) == 0) {
    // "N/A" stands in the alert texts where a kind has no property or no
    // trigger; it tells an operator nothing here.
    if (property && trigger && *property != "N/A" && *trigger != "N/A") out->measures = *property + " against " + *trigger;
  }
  check->state = was;
  check->current_event = std::move(was_current);
}

ArCheckState state_named(const std::optional<std::string>& name) {
  for (int s = kArNormal; s <= kArDisabled; ++s) {
    if (name && *name == ar_state_name(s)) return static_cast<ArCheckState>(s);
  }
  return kArNone;
}

std::string outcome_phrase(const CheckOutcome& outcome, ArCheckState state) {
  const bool deaf = state != kArNormal && state != kArTriggered;
  switch (outcome.kind) {
    case CheckOutcomeKind::kTrigger:
      return state == kArTriggered ? "that value triggers it again" : deaf ? "judged then, that value triggers it"
                                                                          : "that value triggers it";
    case CheckOutcomeKind::kResolve:
      return "that value resolves it";
    case CheckOutcomeKind::kRefresh:
      return "that value keeps it Triggered";
    case CheckOutcomeKind::kNotReading:
      return "that value is no reading, which changes nothing";
    case CheckOutcomeKind::kDrop:
      break;
  }
  return deaf ? "judged then, that value leaves it Normal" : state == kArTriggered ? "that value changes nothing"
                                                                                  : "that value leaves it Normal";
}

// What would move the reference out of its state.
std::string changes(const ExplainedRule& rule, const ExplainedReference& ref) {
  const ArCheckState state = state_named(ref.status.state);
  const RestartReference* kept = ref.status.kept ? &*ref.status.kept : nullptr;
  const std::string back = rule.level && !(kept && kept->cancelled)
                               ? "its latest value is judged again"
                               : "its next update is judged (" +
                                     std::string(rule.level ? "a cancel began its Timeout" : "an event is never judged again") + ")";
  switch (state) {
    case kArNormal:
      return "an update the check judges a trigger triggers it";
    case kArTriggered:
      return rule.has_resolve ? "an update the check judges clear resolves it; a cancel sends it into Timeout"
                              : "it leaves Triggered once its trigger actions are queued";
    case kArResolving:
      return "it moves on once its resolve actions are queued";
    case kArTimeout:
      return "its Timeout ends" + (kept && kept->timeout_end_ms != 0 ? " at " + time_of_ms(kept->timeout_end_ms) : "") +
             "; then " + back;
    case kArDisabled:
      return "its window ends" + (kept && kept->window_end_ms != 0 ? " at " + time_of_ms(kept->window_end_ms) : "") +
             "; then " + back;
    default:
      return "nothing the daemon shows";
  }
}

std::string outcome_word(CheckOutcomeKind kind) {
  switch (kind) {
    case CheckOutcomeKind::kTrigger: return "trigger";
    case CheckOutcomeKind::kResolve: return "resolve";
    case CheckOutcomeKind::kRefresh: return "refresh";
    case CheckOutcomeKind::kNotReading: return "no reading";
    case CheckOutcomeKind::kDrop: break;
  }
  return "nothing";
}

std::string json_ms(int64_t ms) { return ms != 0 ? std::to_string(ms / 1000) : "null"; }

const ArCheck* offline_reference(const OfflineConfig& config, uint32_t rule, uint32_t ref) {
  const LoadedConfig* loaded = config.loaded();
  if (loaded == nullptr) return nullptr;
  for (const ArCheck& check : loaded->checks) {
    if (check.conf.ar->index == rule && check.conf.ref_index == ref) return &check;
  }
  return nullptr;
}

// The facts of the daemon's rule from infod, judged with the file's
// settings (the daemon's own while the file is the one it loaded).
int explain_daemon(Invocation& inv) {
  InfodConnection infod;
  DaemonView view;
  if (const int status = reach_running_daemon(inv.socket, &infod, &view, inv.err); status != 0) return status;
  const LoadedRule* loaded = find_loaded_rule(view, inv.words[0], inv.err);
  if (loaded == nullptr) return 1;
  uint32_t only = 0;
  if (!reference_option(inv, kExplainCommand, &only)) return 2;
  const std::string file = default_config_file();
  const ConfigFileFacts facts = config_file_facts(file);
  const bool same = facts.readable && facts.mtime == view.reload_mtime && facts.checksum == view.reload_checksum;
  const OfflineConfig config(file);
  std::vector<RuleStatus> rules = same && config.ok() ? rules_of_file(config) : rules_of_daemon(view);
  rules.erase(std::remove_if(rules.begin(), rules.end(), [&](const RuleStatus& r) { return r.number != loaded->number; }),
              rules.end());
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int64_t now_ms = int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
  if (rules.empty() || !read_rules(infod, view, &rules, now_ms)) {
    inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
    return 1;
  }
  const RuleStatus& status = rules.front();
  ExplainedRule rule;
  rule.number = status.number;
  rule.name = status.name;
  rule.path = status.path;
  rule.check_type = status.check_type;
  rule.silences = status.silences;
  rule.now_ms = now_ms;
  for (const QueueEntry& q : view.queue) {
    if (q.rule_path == rule.path) rule.queued.push_back(q);
  }
  for (const FinishedEntry& f : view.finished) {
    if (f.rule_path == rule.path) rule.finished.push_back(f);
  }
  for (const ReferenceStatus& ref : status.references) {
    if (only != 0 && ref.number != only) continue;
    ExplainedReference& e = rule.references.emplace_back();
    e.status = ref;
    const ArCheck* check = offline_reference(config, rule.number, ref.number);
    if (check == nullptr) continue;
    const AutoResponse& ar = *check->conf.ar;
    rule.level = ar.kind != nullptr && ar.kind->level && ar.has_resolve;
    rule.has_resolve = ar.has_resolve;
    rule.settings = settings_of(ar);
    CheckEvent latest;
    latest.key = check->conf.subscription;
    if (ref.latest) {
      latest.time_ms = static_cast<uint64_t>(ref.latest->first);
      latest.value = ref.latest->second;
    } else if (ref.value) {
      latest.value = *ref.value;
    } else {
      continue;  // no value seen: nothing to judge
    }
    const CheckEvent* current = ref.kept && ref.kept->event ? &*ref.kept->event : nullptr;
    judge(const_cast<ArCheck*>(check), state_named(ref.state), current, latest, &e);
  }
  if (only != 0 && rule.references.empty()) {
    inv.err << "arctl: rule " << rule.number << " (" << visible(rule.name) << ") has no reference " << only << "\n";
    return 1;
  }
  if (!same) {
    inv.err << "arctl: " << visible(file) << " is not the file the daemon loaded: the settings shown are the file's\n";
  }
  if (inv.json) {
    print_explanation_json(inv.out, rule);
  } else {
    print_explanation(inv.out, rule);
  }
  return 0;
}

}  // namespace

ExplainedRule explain_engine(Engine& engine, const ActionQueue& queue, const ArCheck& any_check_of_rule, uint32_t ref) {
  const AutoResponse& ar = *any_check_of_rule.conf.ar;
  ExplainedRule rule;
  rule.number = ar.index;
  rule.name = ar.name;
  rule.path = ar.path;
  rule.check_type = ar.kind != nullptr ? ar.kind->name : "";
  rule.level = ar.kind != nullptr && ar.kind->level && ar.has_resolve;
  rule.has_resolve = ar.has_resolve;
  rule.settings = settings_of(ar);
  rule.now_ms = engine.clock->wall_ms();
  const RestartRule record = restart_record_of(engine, any_check_of_rule, true);
  for (const RestartSilence& s : record.silences) {
    if (s.until_ms > rule.now_ms) rule.silences.push_back(s);
  }
  for (const QueuedAction& qa : queue.entries()) {
    if (qa.ar_path == ar.path) rule.queued.push_back({qa.state == kQueuedRunning, qa.since, qa.ar_path, qa.action_path, qa.action_name});
  }
  for (const ActionQueue::Finished& f : queue.finished()) {
    if (f.ar_path == ar.path) rule.finished.push_back({f.wall_ms, f.ar_path, f.status, f.action_name});
  }
  const int64_t shift = rule.now_ms - engine.clock->monotonic_ms();
  for (ArCheck& check : *engine.checks) {
    if (check.conf.ar != &ar || (ref != 0 && check.conf.ref_index != ref)) continue;
    ExplainedReference& e = rule.references.emplace_back();
    ReferenceStatus& s = e.status;
    s.number = check.conf.ref_index;
    s.device = device_of(check);
    s.state = ar_state_name(check.state);
    if (check.current_event) s.value = check.current_event->value;
    for (const RestartReference& k : record.refs) {
      if (k.ref == s.number) s.kept = k;
    }
    for (const RestartSilence& silence : rule.silences) {
      if (silence.ref == 0 || silence.ref == s.number) s.silence = silence;
    }
    const CheckEvent* latest = check.last ? check.last.get() : check.current_event.get();
    if (latest != nullptr) s.latest = std::make_pair(static_cast<int64_t>(latest->time_ms), latest->value);
    if (check.burst) {
      int64_t oldest = 0;
      const size_t n = check.burst->counted(engine.clock->monotonic_ms(), int64_t{ar.burst_window} * 1000, &oldest);
      if (n > 0) s.burst = BurstEntry{ar.index, s.number, static_cast<uint32_t>(n), oldest + shift};
    }
    if (const AutoResponse* holder = hold_covering(engine, check)) {
      s.held_while = holder->name;
      for (size_t i = 0; i < check.trigger_count(); ++i) {
        if (check.statuses.data()[i] == kActionHeld) s.held_actions.push_back(ar.trigger_actions[i].name);
      }
    }
    if (latest != nullptr) judge(&check, check.state, check.current_event.get(), *latest, &e);
  }
  return rule;
}

void print_explanation(std::ostream& out, const ExplainedRule& rule) {
  RuleStatus status;
  status.number = rule.number;
  status.name = rule.name;
  for (const ExplainedReference& e : rule.references) {
    const ReferenceStatus& s = e.status;
    const ArCheckState state = state_named(s.state);
    out << "rule " << rule.number << " (" << visible(rule.name) << ") reference " << s.number;
    if (!s.device.empty()) out << " " << visible(s.device);
    out << ": " << (s.state ? visible(*s.state) : "no state shown");
    if (s.kept) out << " since " << time_of_ms(s.kept->since_ms);
    out << "\n";
    if (s.latest) {
      out << "  latest value " << visible(s.latest->second);
      if (s.latest->first != 0) out << " at " << time_of_ms(s.latest->first);
      out << "\n";
    } else if (s.value) {
      out << "  value " << visible(*s.value) << "\n";
    } else {
      out << "  no value seen yet\n";
    }
    out << "  the check (" << visible(rule.check_type) << (rule.level ? ", a level" : ", an event") << ")";
    if (!e.measures.empty()) out << ": " << visible(e.measures);
    if (!rule.settings.empty()) out << "; " << visible(rule.settings);
    out << "\n";
    if (e.judged) {
      out << "  " << outcome_phrase(*e.judged, state);
      if (!e.judged->reason.empty()) out << ": " << visible(e.judged->reason);
      out << "\n";
    }
    for (const std::string& note : notes_of(status, s)) {
      if (note.rfind("latest update ", 0) == 0) continue;  // told above as its latest value
      out << "  " << note << "\n";
    }
    out << "  what would change it: " << changes(rule, e) << "\n";
  }
  for (const QueueEntry& q : rule.queued) {
    out << "queue: '" << visible(q.name) << "' " << (q.running ? "running since " : "waiting since ")
        << local_time_text(q.since) << "\n";
  }
  if (rule.finished.empty()) {
    out << "last actions: none since the daemon started\n";
  } else {
    out << "last actions:";
    for (const FinishedEntry& f : rule.finished) {
      out << "\n  '" << visible(f.name) << "' ended with status " << f.status << " at " << time_of_ms(f.ms);
    }
    out << "\n";
  }
}

void print_explanation_json(std::ostream& out, const ExplainedRule& rule) {
  RuleStatus status;
  status.number = rule.number;
  status.name = rule.name;
  out << "{\"rule\": " << rule.number << ", \"name\": " << json_string(rule.name)
      << ", \"check\": " << json_string(rule.check_type) << ", \"level\": " << (rule.level ? "true" : "false")
      << ", \"settings\": " << json_string(rule.settings) << ",\n \"references\": [";
  for (size_t i = 0; i < rule.references.size(); ++i) {
    const ExplainedReference& e = rule.references[i];
    const ReferenceStatus& s = e.status;
    out << (i > 0 ? ",\n  " : "\n  ") << "{\"number\": " << s.number
        << ", \"state\": " << (s.state ? json_string(*s.state) : "null")
        << ", \"since\": " << (s.kept ? json_ms(s.kept->since_ms) : "null")
        << ", \"latest\": "
        << (s.latest ? "{\"time\": " + json_ms(s.latest->first) + ", \"value\": " + json_string(s.latest->second) + "}"
                     : "null")
        << ", \"measures\": " << (e.measures.empty() ? "null" : json_string(e.measures)) << ", \"judged\": ";
    if (e.judged) {
      out << "{\"outcome\": " << json_string(outcome_word(e.judged->kind))
          << ", \"reason\": " << (e.judged->reason.empty() ? "null" : json_string(e.judged->reason)) << "}";
    } else {
      out << "null";
    }
    out << ", \"notes\": [";
    const std::vector<std::string> notes = notes_of(status, s);
    for (size_t k = 0; k < notes.size(); ++k) out << (k > 0 ? ", " : "") << json_string(notes[k]);
    out << "], \"changes\": " << json_string(changes(rule, e)) << "}";
  }
  out << (rule.references.empty() ? "],\n" : "\n ],\n") << " \"queue\": [";
  for (size_t i = 0; i < rule.queued.size(); ++i) {
    const QueueEntry& q = rule.queued[i];
    out << (i > 0 ? ", " : "") << "{\"name\": " << json_string(q.name) << ", \"state\": "
        << (q.running ? "\"running\"" : "\"waiting\"") << ", \"since\": " << q.since << "}";
  }
  out << "],\n \"finished\": [";
  for (size_t i = 0; i < rule.finished.size(); ++i) {
    const FinishedEntry& f = rule.finished[i];
    out << (i > 0 ? ", " : "") << "{\"name\": " << json_string(f.name) << ", \"status\": " << f.status
        << ", \"time\": " << json_ms(f.ms) << "}";
  }
  out << "]}\n";
}

const Command kExplainCommand = {
    "explain",
    "RULE [--ref N] [--socket PATH] [--pid-file PATH] [--json]",
    "tell why a rule's references are in their states and what would change them",
    "For each reference of the rule RULE (its number, path or name) the running\n"
    "daemon runs, or only reference N: its state and since when, the latest\n"
    "value of its key and when it came, how its check judges that value with\n"
    "the settings in force (what it measures against what, and the line the\n"
    "daemon would log), the delayed actions waiting and when they can start,\n"
    "the end of a Timeout or a window, a burst's count, a hold or a silence\n"
    "that holds its actions back, and what would move it out of its state;\n"
    "then the rule's actions in the queue and those that ended last, with\n"
    "their exit statuses. The settings are the configuration file's, which\n"
    "are the daemon's while the file is the one it loaded (otherwise it says\n"
    "so). 'arctl test --explain RULE AT' tells the same of a simulated run.\n"
    "\n"
    "  --ref N           only reference N\n"
    "  --socket PATH     infod's socket (default /var/run/infod-sock)\n"
    "  --pid-file PATH   the daemon's pid file (default /var/run/autoresponsed.pid)\n"
    "  --json            one JSON object for programs\n"
    "\n"
    "Exit status: 0 told, 1 no such rule or reference, or infod cannot be\n"
    "read, 3 the daemon is not running.\n",
    kOptionSocket | kOptionPidFile | kOptionJson | kOptionRef,
    1,
    1,
    explain_daemon,
};
