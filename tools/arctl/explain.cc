// `arctl explain RULE [--ref N] [--json]`: why each reference of a rule is
// in its state and what would change it.
#include "arctl/explain.h"

#include <algorithm>
#include <ctime>

#include "actions/queue.h"
#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/infod.h"
#include "arctl/json.h"
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
    const std::string value = xmldb_getstring(ar.config_db, ar.path().c_str(), setting.c_str());
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
    if (name && *name == reference_state_name(s)) return static_cast<ArCheckState>(s);
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
  const RestartReference* kept = ref.status.record ? &*ref.status.record : nullptr;
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
}  // namespace

ExplainedRule explain_status(const RuleStatus& status, const std::vector<QueueEntry>& queue,
                             const std::vector<FinishedEntry>& finished, const OfflineConfig& config, uint32_t only,
                             int64_t now_ms) {
  ExplainedRule rule;
  rule.number = status.number;
  rule.name = status.name;
  rule.path = status.path;
  rule.check_type = status.check_type;
  rule.silences = status.silences;
  rule.now_ms = now_ms;
  for (const QueueEntry& q : queue) {
    if (q.rule_path == rule.path) rule.queued.push_back(q);
  }
  for (const FinishedEntry& f : finished) {
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
    const CheckEvent* current = ref.record && ref.record->event ? &*ref.record->event : nullptr;
    judge(const_cast<ArCheck*>(check), state_named(ref.state), current, latest, &e);
  }
  return rule;
}

ExplainedRule explain_engine(Engine& engine, const ActionQueue& queue, const ArCheck& any_check_of_rule, uint32_t ref) {
  const AutoResponse& ar = *any_check_of_rule.conf.ar;
  ExplainedRule rule;
  rule.number = ar.index;
  rule.name = ar.name;
  rule.path = ar.path();
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
    if (qa.ar_path == ar.path()) rule.queued.push_back({qa.state == kQueuedRunning, qa.since, qa.ar_path, qa.action_path, qa.action_name});
  }
  for (const ActionQueue::Finished& f : queue.finished()) {
    if (f.ar_path == ar.path()) rule.finished.push_back({f.wall_ms, f.ar_path, f.status, f.action_name});
  }
  const int64_t shift = rule.now_ms - engine.clock->monotonic_ms();
  for (ArCheck& check : *engine.checks) {
    if (check.conf.ar != &ar || (ref != 0 && check.conf.ref_index != ref)) continue;
    ExplainedReference& e = rule.references.emplace_back();
    ReferenceStatus& s = e.status;
    s.number = check.conf.ref_index;
    s.device = device_of(check);
    s.state = reference_state_name(check.state);
    if (check.current_event) s.value = check.current_event->value;
    for (const RestartReference& k : record.refs) {
      if (k.ref == s.number) s.record = k;
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
    if (s.record) out << " since " << time_of_ms(s.record->since_ms);
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
  JsonWriter w(out);
  w.object().member("rule", rule.number).member("name", rule.name).member("check", rule.check_type);
  w.member("level", rule.level).member("settings", rule.settings).between(",\n ");
  w.key("references").array(kJsonLines);
  for (const ExplainedReference& e : rule.references) {
    const ReferenceStatus& s = e.status;
    w.object().member("number", s.number).member("state", s.state);
    json_time_ms(w, "since", s.record ? s.record->since_ms : 0);
    if (s.latest) {
      w.key("latest").object();
      json_time_ms(w, "time", s.latest->first);
      w.member("value", s.latest->second).end();
    } else {
      w.null_member("latest");
    }
    e.measures.empty() ? w.null_member("measures") : w.member("measures", e.measures);
    if (e.judged) {
      w.key("judged").object().member("outcome", outcome_word(e.judged->kind));
      e.judged->reason.empty() ? w.null_member("reason") : w.member("reason", e.judged->reason);
      w.end();
    } else {
      w.null_member("judged");
    }
    w.key("notes").array();
    for (const std::string& note : notes_of(status, s)) w.text(note);
    w.end().member("changes", changes(rule, e)).end();
  }
  w.end().key("queue").array();
  for (const QueueEntry& q : rule.queued) {
    w.object().member("name", q.name).member("state", q.running ? "running" : "waiting").member("since", q.since).end();
  }
  w.end().key("finished").array();
  for (const FinishedEntry& f : rule.finished) {
    w.object().member("name", f.name).member("status", f.status);
    json_time_ms(w, "time", f.ms);
    w.end();
  }
  w.end().end();
  out << "\n";
}
