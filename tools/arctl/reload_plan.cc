// The plan of `arctl reload`: the file's rules against the daemon's.
#include "arctl/reload_plan.h"

#include <algorithm>

#include "arctl/infod.h"
#include "arctl/text.h"
#include "engine/state.h"

namespace {

using Fate = ReloadPlan::Fate;

bool in_incident(ArCheckState state) { return state == kArTriggered || state == kArResolving; }

std::string rule_text(uint32_t number, const std::string& name) {
  return "rule " + std::to_string(number) + " (" + visible(name) + ")";
}

// Compares one rule the daemon runs with its new form.
class RuleComparison {
 public:
  RuleComparison(ReloadPlan* plan, const LoadedRule& old, const RestartRule* record)
      : plan_(plan), old_(old), record_(record) {}

  void removed() {
    ReloadPlan::Rule& rule = add(Fate::kRemoved, old_.name);
    if (record_ != nullptr) {
      for (const RestartReference& ref : record_->refs) lose(rule, ref, "its rule is removed");
    }
  }

  void changed(const OfflineRule& now) {
    // A rule without a reference has no record: as one of no reference.
    static const RestartRule kNoReference;
    if (record_ == nullptr && !old_.references.empty()) {
      add(Fate::kUnknown, now.name).why.push_back("the daemon shows no record of it");
      return;
    }
    if (record_ == nullptr) record_ = &kNoReference;
    if (record_->fingerprint == now.restart_fingerprint && now.restart_fingerprint != 0) {
      add(Fate::kUnchanged, now.name);
      return;
    }
    ReloadPlan::Rule& rule = add(Fate::kAfresh, now.name);
    if (old_.check_type != now.kind) {
      rule.why.push_back("its check kind changed (" + visible(old_.check_type) + " to " + visible(now.kind) + ")");
      for (const RestartReference& ref : record_->refs) lose(rule, ref, "its check kind changed");
      return;
    }
    bool carried = false;
    for (const RestartReference& ref : record_->refs) {
      const auto same = std::find_if(now.references.begin(), now.references.end(), [&](const OfflineReference& r) {
        return r.subscribed && r.number == ref.ref;
      });
      const std::string n = "reference " + std::to_string(ref.ref);
      if (same == now.references.end()) {
        rule.why.push_back(n + " is removed");
        lose(rule, ref, "it is removed");
      } else if (ref.key_hash == 0 || ref.key_hash != key_hash(same->key)) {
        rule.why.push_back(n + "'s key changed");
        lose(rule, ref, "its key changed");
      } else {
        carried = true;
      }
    }
    for (const OfflineReference& r : now.references) {
      const bool had = std::any_of(record_->refs.begin(), record_->refs.end(),
                                   [&](const RestartReference& ref) { return ref.ref == r.number; });
      if (r.subscribed && !had) rule.why.push_back("reference " + std::to_string(r.number) + " is added");
    }
    if (carried) rule.fate = Fate::kCarried;
    if (!carried && rule.why.empty()) rule.fate = Fate::kUnknown;  // no reference before or after
  }

 private:
  ReloadPlan::Rule& add(Fate fate, const std::string& name) {
    ReloadPlan::Rule& rule = plan_->rules.emplace_back();
    rule.number = old_.number;
    rule.name = name;
    rule.fate = fate;
    return rule;
  }

  // A reference that does not go on: what it had in hand is lost.
  void lose(const ReloadPlan::Rule& rule, const RestartReference& ref, const std::string& why) {
    if (!in_incident(ref.state) && ref.delayed.empty()) return;
    plan_->losses.push_back({rule.number, rule.name, ref.ref, why, ref.state, ref.delayed});
  }

  ReloadPlan* plan_;
  const LoadedRule& old_;
  const RestartRule* record_;
};

}  // namespace

size_t ReloadPlan::unchanged() const {
  return static_cast<size_t>(
      std::count_if(rules.begin(), rules.end(), [](const Rule& r) { return r.fate == Fate::kUnchanged; }));
}

std::vector<const ReloadPlan::Loss*> ReloadPlan::undone() const {
  std::vector<const Loss*> out;
  for (const Loss& loss : losses) {
    if (in_incident(loss.state)) out.push_back(&loss);
  }
  return out;
}

ReloadPlan plan_reload(const OfflineConfig& config, const DaemonView& view,
                       const std::map<uint32_t, RestartRule>& records) {
  ReloadPlan plan;
  std::map<uint32_t, const OfflineRule*> now;
  for (const OfflineRule& rule : config.rules()) {
    if (rule.loaded) now[static_cast<uint32_t>(rule.index)] = &rule;
  }
  std::map<uint32_t, const LoadedRule*> old;
  for (const LoadedRule& rule : view.loaded) old[rule.number] = &rule;
  // Both walked in number order.
  auto o = old.begin();
  auto n = now.begin();
  while (o != old.end() || n != now.end()) {
    if (n == now.end() || (o != old.end() && o->first < n->first)) {
      const auto record = records.find(o->first);
      RuleComparison(&plan, *o->second, record != records.end() ? &record->second : nullptr).removed();
      ++o;
    } else if (o == old.end() || n->first < o->first) {
      ReloadPlan::Rule& rule = plan.rules.emplace_back();
      rule.number = n->first;
      rule.name = n->second->name;
      rule.fate = Fate::kAdded;
      ++n;
    } else {
      const auto record = records.find(o->first);
      RuleComparison(&plan, *o->second, record != records.end() ? &record->second : nullptr).changed(*n->second);
      ++o, ++n;
    }
  }
  return plan;
}

bool read_shown_records(InfodConnection& infod, const DaemonView& view, std::map<uint32_t, RestartRule>* records) {
  records->clear();
  std::vector<std::string> keys;
  for (const LoadedRule& rule : view.loaded) keys.push_back(shown_record_key(rule.number));
  std::vector<std::optional<std::string>> values;
  if (!infod.get_many(keys, &values)) return false;
  for (size_t i = 0; i < keys.size() && i < values.size(); ++i) {
    RestartRule record;
    if (values[i] && restart_rule_parse(*values[i], &record)) (*records)[view.loaded[i].number] = std::move(record);
  }
  return true;
}

void print_plan(std::ostream& out, const ReloadPlan& plan) {
  const size_t unchanged = plan.unchanged();
  out << "plan: " << unchanged << (unchanged == 1 ? " rule" : " rules") << " unchanged\n";
  for (const ReloadPlan::Rule& rule : plan.rules) {
    std::string why;
    for (const std::string& w : rule.why) why += (why.empty() ? "" : ", ") + w;
    const std::string head = "plan: " + rule_text(rule.number, rule.name);
    switch (rule.fate) {
      case Fate::kUnchanged:
        break;
      case Fate::kCarried:
        out << head << " carried: its references keep their states under the new settings"
            << (why.empty() ? "" : ", but " + why) << "\n";
        break;
      case Fate::kAfresh:
        out << head << " started afresh: " << why << "\n";
        break;
      case Fate::kAdded:
        out << head << " added\n";
        break;
      case Fate::kRemoved:
        out << head << " removed\n";
        break;
      case Fate::kUnknown:
        out << head
            << (why.empty() ? " has no reference, so nothing of it to keep"
                            : ": " + why + ", so whether it is kept cannot be told")
            << "\n";
        break;
    }
  }
  for (const ReloadPlan::Loss& loss : plan.losses) {
    const std::string reference = rule_text(loss.rule, loss.rule_name) + " reference " + std::to_string(loss.ref);
    for (const RestartDue& due : loss.dropped) {
      out << "plan: drops the delayed action '" << visible(due.name) << "' of " << reference << ", due at "
          << local_time_text(due.due_ms / 1000) << "\n";
    }
  }
  for (const ReloadPlan::Loss* loss : plan.undone()) {
    out << "plan: leaves " << rule_text(loss->rule, loss->rule_name) << " reference " << loss->ref << " "
        << ar_state_name(loss->state) << " undone (" << loss->why << "): its resolve actions will not run\n";
  }
}

std::string undone_list(const ReloadPlan& plan) {
  std::string text;
  for (const ReloadPlan::Loss* loss : plan.undone()) {
    text += (text.empty() ? "" : ", ") + rule_text(loss->rule, loss->rule_name) + " reference " +
            std::to_string(loss->ref) + " " + ar_state_name(loss->state);
  }
  return text;
}
