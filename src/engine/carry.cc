// References an edit carries from one load to the next.
#include "engine/carry.h"

#include <map>
#include <utility>

#include "config/loader.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// For each action of list now, the place in list before of the action of
// the same kind and number; -1 for one the edit added.
std::vector<long> places(const ActionList& before, const ActionList& now) {
  std::map<std::pair<bool, uint32_t>, long> old;
  for (size_t k = 0; k < before.size(); ++k) old.emplace(std::make_pair(before[k].cms != 0, before[k].number), k);
  std::vector<long> out;
  for (size_t i = 0; i < now.size(); ++i) {
    const auto it = old.find({now[i].cms != 0, now[i].number});
    out.push_back(it != old.end() ? it->second : -1);
  }
  return out;
}

void carry_one(ArCheck* from, ArCheck* to) {
  const AutoResponse& before = *from->conf.ar;
  const AutoResponse& now = *to->conf.ar;
  to->state = from->state;
  to->state_time = from->state_time;
  to->current_event = std::move(from->current_event);
  to->last = std::move(from->last);
  to->trigger_ran = from->trigger_ran;
  to->cancelled = from->cancelled;
  to->unreadable_reported = from->unreadable_reported;
  if (before.burst_count == now.burst_count && before.burst_window == now.burst_window) to->burst = std::move(from->burst);
  const std::vector<long> triggers = places(before.trigger_actions, now.trigger_actions);
  const std::vector<long> resolves = places(before.resolve_actions, now.resolve_actions);
  const ActionStatus* old = from->statuses.data();
  ActionStatus* status = to->statuses.data();
  for (size_t i = 0; i < triggers.size(); ++i) status[i] = triggers[i] >= 0 ? old[triggers[i]] : kActionPending;
  const size_t old_triggers = from->trigger_count();
  for (size_t j = 0; j < resolves.size(); ++j) {
    status[triggers.size() + j] = resolves[j] >= 0 ? old[old_triggers + resolves[j]] : kActionPending;
  }
  if (from->held_resolve) {
    HeldResolve held{{}, from->held_resolve->event};
    for (const uint32_t k : from->held_resolve->actions) {
      for (size_t j = 0; j < resolves.size(); ++j) {
        if (resolves[j] == static_cast<long>(k)) held.actions.push_back(static_cast<uint32_t>(j));
      }
    }
    if (!held.actions.empty()) to->held_resolve = std::make_unique<HeldResolve>(std::move(held));
  }
  from->state = kArNone;
}

}  // namespace

std::vector<Carry> carry_plan(LoadedConfig& previous, LoadedConfig& config) {
  // The references the previous load lets go, by rule number and reference.
  std::map<std::pair<uint32_t, uint32_t>, ArCheck*> leaving;
  for (ArCheck& check : previous.checks) {
    if (check.conf.ar != nullptr && check.state != kArNone) {
      leaving.emplace(std::make_pair(check.conf.ar->index, check.conf.ref_index), &check);
    }
  }
  std::vector<Carry> plan;
  if (leaving.empty()) return plan;
  for (ArCheck& check : config.checks) {
    if (check.state != kArNone) continue;  // kept whole
    const auto it = leaving.find({check.conf.ar->index, check.conf.ref_index});
    if (it == leaving.end()) continue;
    ArCheck* from = it->second;
    if (from->conf.ar->kind == nullptr || from->conf.ar->kind != check.conf.ar->kind ||
        from->conf.subscription != check.conf.subscription) {
      continue;
    }
    plan.push_back({from, &check});
  }
  return plan;
}

void carry_out(const std::vector<Carry>& plan) {
  for (const Carry& c : plan) carry_one(c.from, c.to);
}
