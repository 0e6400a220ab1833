// What arctl tells of each rule and reference the daemon runs.
#include "arctl/rule_status.h"

#include <algorithm>

#include "arctl/infod.h"
#include "arctl/text.h"
#include "daemon/daemon_status.h"
#include "engine/state.h"

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

namespace {

std::string latest_key(uint32_t rule, uint32_t ref) {
  return daemon_status_key(kStatusLatest) + "." + std::to_string(rule) + "." + std::to_string(ref);
}

}  // namespace

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
      for (const HoldEntry& hold : view.holds) {
        if (hold.rule != rule.number || hold.ref != ref.number) continue;
        ref.held_while = "rule " + std::to_string(hold.holder);
        for (const LoadedRule& r : view.loaded) {
          if (r.number == hold.holder) ref.held_while = r.name;
        }
        ref.held_actions = hold.actions;
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

std::string time_of_ms(int64_t ms) { return local_time_text(ms / 1000); }

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

namespace {

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

}  // namespace

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
  if (ref.held_while) {
    std::string note = "held while " + visible(*ref.held_while) + " is Triggered";
    for (size_t i = 0; i < ref.held_actions.size(); ++i) {
      note += (i == 0 ? ", holding '" : "', '") + visible(ref.held_actions[i]);
      if (i + 1 == ref.held_actions.size()) note += "'";
    }
    notes.push_back(note);
  }
  if (ref.silence) {
    std::string note = "silenced until " + time_of_ms(ref.silence->until_ms) + " by " + visible(ref.silence->origin);
    if (!ref.silence->reason.empty()) note += ": " + visible(ref.silence->reason);
    notes.push_back(note);
  }
  return notes;
}

