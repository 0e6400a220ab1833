// Holds between rules: who holds whom now, and settling what they held.
#include "engine/hold.h"

#include <algorithm>

#include "engine/engine.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The rule of number n in the load in force; null for none.
const AutoResponse* rule_numbered(const Engine& engine, uint32_t n) {
  if (engine.rules == nullptr) return nullptr;
  const auto it = std::lower_bound(engine.rules->begin(), engine.rules->end(), n,
                                   [](const AutoResponse& ar, uint32_t number) { return ar.index < number; });
  return it != engine.rules->end() && it->index == n ? &*it : nullptr;
}

// Calls visit with each reference of rule number n: they lie together, in
// the order of their rules' numbers.
template <class Visit>
void each_reference(Engine& engine, uint32_t n, Visit visit) {
  if (engine.checks == nullptr) return;
  ArCheckList& checks = *engine.checks;
  auto it = std::lower_bound(checks.begin(), checks.end(), n,
                             [](const ArCheck& check, uint32_t number) { return check.conf.ar->index < number; });
  for (; it != checks.end() && it->conf.ar->index == n; ++it) visit(&*it);
}

void settle_rule(Engine& engine, uint32_t n) {
  each_reference(engine, n, [&](ArCheck* check) { reference_settle_held(engine, check); });
}

}  // namespace

bool rule_holding(Engine& engine, const AutoResponse& rule) {
  bool holding = false;
  each_reference(engine, rule.index, [&](ArCheck* check) {
    holding = holding || check->state == kArTriggered || check->state == kArResolving;
  });
  return holding;
}

const AutoResponse* hold_covering(Engine& engine, const ArCheck& check) {
  for (const uint32_t n : check.conf.ar->holds()) {
    const AutoResponse* rule = rule_numbered(engine, n);
    if (rule != nullptr && rule_holding(engine, *rule)) return rule;
  }
  return nullptr;
}

void holds_track(Engine& engine) {
  engine.holding_rules.clear();
  engine.held_rules.clear();
  if (engine.rules == nullptr) return;
  for (AutoResponse& rule : *engine.rules) {
    if (!rule.held().empty()) engine.holding_rules.push_back(&rule);
    if (!rule.holds().empty()) engine.held_rules.push_back(&rule);
  }
}

void holds_settle(Engine& engine, bool all) {
  if (all && engine.checks != nullptr) {
    // A load may also have taken a hold away from a rule that still holds
    // back what it held.
    for (ArCheck& check : *engine.checks) reference_settle_held(engine, &check);
  }
  for (AutoResponse* rule : engine.holding_rules) {
    const bool holding = rule_holding(engine, *rule);
    const bool released = rule->holding && !holding;
    rule->holding = holding;
    if (!released) continue;
    for (const uint32_t n : rule->held()) settle_rule(engine, n);
  }
}
