// A load's references taken in, and those of the load it replaces let go.
#include "engine/load.h"

#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "actions/queue.h"
#include "base/log.h"
#include "base/record_store.h"
#include "config/loader.h"
#include "engine/carry.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/level_read.h"
#include "engine/restart.h"
#include "engine/router.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "engine/tick.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

// The load's limits for the action queue: a concurrency of 0 keeps the one
// in force; the time-out is the file's, 0 for none.
void load_take_limits(Engine& engine, const LoadedConfig& config) {
  if (config.concurrent_actions > 0) engine.queue->concurrent_actions = config.concurrent_actions;
  // Unlike the limit above, a time-out taken out of the file is gone.
  engine.queue->action_timeout = config.action_timeout;
}

// Makes config's references the engine's: the queue's entries and the
// routing index follow them, each new one takes its identity, and each
// rule with a new one its restart fingerprint.
void load_attach(Engine& engine, LoadedConfig& config) {
  ArCheckList* checks = &config.checks;
  engine.rules = &config.rules;
  engine.checks = checks;
  holds_track(engine);
  engine.cms_fingerprint = config.cms_fingerprint;
  engine.queue->attach(checks);
  route_index_build(engine.routes, *checks);
  const AutoResponse* rule = nullptr;
  for (ArCheck& check : *checks) {
    if (check.id != 0) continue;
    check.id = engine.next_check_id++;
    if (check.conf.ar != rule) check.conf.ar->restart_fingerprint = restart_fingerprint(engine, check);
    rule = check.conf.ar;
  }
}

// Each new reference of config in order is subscribed and moved to Normal,
// or to Disabled at once when its rule's window is open now (never on for a
// moment inside it), and its level read. One that took up its restart
// record or was carried (taken[seq]) publishes the state it took instead,
// and queues what fell due meanwhile; a carried one's latest value is then
// judged by its new settings at once. References a reload kept go on as
// they are, without a word to infod.
void load_adopt(Engine& engine, LoadedConfig& config, const std::vector<uint8_t>* taken) {
  tm local{};
  bool local_known = false;
  for (ArCheck& check : config.checks) {
    const uint8_t how = taken != nullptr ? (*taken)[check.seq] : kTakenFresh;
    if (check.state != kArNone && how == kTakenFresh) continue;
    ar_log(kLogInfo, "Adding subscription: %s", check.conf.subscription.c_str());
    if (engine.publisher->subscribe(check.conf.subscription.c_str()) != 0) ar_log(kLogFatal, "Error adding subscription");
    const AutoResponse& ar = *check.conf.ar;
    if (ar.schedule_enabled && !local_known) local_known = engine_local_time(engine, &local);
    if (local_known && disable_window_open(ar, local)) {
      reference_disable(engine, &check);
    } else if (check.state != kArNormal && check.state != kArDisabled && check.state != kArNone) {
      reference_resumed(engine, &check);
    } else {
      reference_normal(engine, &check);
    }
    if (how == kTakenCarried) {
      reference_judge_again(engine, &check);
    } else {
      level_read_ask(engine, &check);  // what its key holds now is judged as soon as infod says
    }
    engine.publisher->boundary();
  }
  level_reads_send(engine);
}

namespace {

// A reference an edit takes away in the middle of an incident leaves its
// resolve actions undone: said once, with their names.
void tell_undone(const ArCheck& check) {
  if (check.state != kArTriggered && check.state != kArResolving) return;
  const ActionList& actions = check.conf.ar->resolve_actions;
  std::string names;
  for (size_t i = 0; i < actions.size(); ++i) names += (i > 0 ? "', '" : "") + actions[i].name;
  ar_log(kLogInfo, "Reference %u of AR %s taken away while %s: %s", check.conf.ref_index,
         check.conf.ar->name.c_str(), reference_state_name(check.state),
         names.empty() ? "it has no resolve action" : ("its resolve actions '" + names + "' will not run").c_str());
}

// Lets go of what a reload did not keep of previous: each Triggered
// reference's delayed actions are accounted for, and each key is
// unsubscribed unless a reference kept in config still watches it (infod
// holds one subscription per key and connection: giving it up for one
// would silence the other).
void let_go(Engine& engine, const LoadedConfig& previous, const LoadedConfig& config) {
  // A rule gone from the load leaves no record a later one of its number
  // could take up.
  if (engine.records != nullptr) {
    auto now = config.rules.begin();
    for (const AutoResponse& ar : previous.rules) {
      if (ar.moved_over) continue;
      while (now != config.rules.end() && now->index < ar.index) ++now;
      if (now == config.rules.end() || now->index != ar.index) {
        if (engine.recorded.erase(ar.index) > 0) engine.records->remove(rule_record_name(ar.index));
        engine.publisher->push(shown_record_key(ar.index).c_str(), 0, "-");
      }
    }
  }
  bool any = false;
  for (const ArCheck& check : previous.checks) {
    if (check.conf.ar == nullptr) continue;
    reference_drop_delayed(&check, "the configuration was reloaded");
    tell_undone(check);
    any = true;
  }
  if (!any) return;
  // The keys of references kept whole (adopted before, so with an
  // identity) stay; those carried are subscribed again with their rule.
  std::unordered_set<std::string_view> watched;
  for (const ArCheck& check : config.checks) {
    if (check.id != 0) watched.insert(check.conf.subscription);
  }
  for (const ArCheck& check : previous.checks) {
    if (check.conf.ar == nullptr || watched.count(check.conf.subscription) > 0) continue;
    engine.publisher->unsubscribe(check.conf.subscription.c_str());
    engine.publisher->boundary();
  }
}

// Counts one more of a kind, named when among the first.
void name_one(std::vector<std::string>* names, size_t* count, const std::string& name) {
  if ((*count)++ < ReloadOutcome::kNamed) names->push_back(name);
}

// Which rules a reload kept, built again, added and let go, and the delayed
// actions the ones built again dropped.
void tell_outcome(const LoadedConfig& previous, const LoadedConfig& config, const std::vector<Carry>& plan,
                  ReloadOutcome* outcome) {
  std::unordered_set<const ArCheck*> carried;
  std::unordered_set<const AutoResponse*> carrying;  // the rules a reference was carried to
  for (const Carry& c : plan) carried.insert(c.from), carrying.insert(c.to->conf.ar);
  auto old = previous.rules.begin();
  auto check = previous.checks.begin();
  for (const AutoResponse& ar : config.rules) {
    while (old != previous.rules.end() && old->index < ar.index) {
      if (!old->moved_over) name_one(&outcome->removed, &outcome->removed_count, old->name);
      ++old;
    }
    const bool had = old != previous.rules.end() && old->index == ar.index;
    if (had && old->moved_over) {
      ++outcome->unchanged;
    } else if (had) {
      if (outcome->changed_count++ < ReloadOutcome::kNamed) {
        ReloadOutcome::Changed& changed = outcome->changed.emplace_back();
        changed.name = ar.name;
        changed.carried = carrying.count(&ar) > 0;
      }
    } else {
      name_one(&outcome->added, &outcome->added_count, ar.name);
    }
    if (had) ++old;
  }
  for (; old != previous.rules.end(); ++old) {
    if (!old->moved_over) name_one(&outcome->removed, &outcome->removed_count, old->name);
  }
  // The delayed actions dropped, by the name the rule had when built again.
  for (; check != previous.checks.end(); ++check) {
    if (check->conf.ar == nullptr || check->state != kArTriggered || carried.count(&*check) > 0) continue;
    auto changed = std::find_if(outcome->changed.begin(), outcome->changed.end(),
                                [&](const auto& c) { return c.name == check->conf.ar->name; });
    const ActionList& actions = check->conf.ar->trigger_actions;
    for (size_t i = 0; i < actions.size(); ++i) {
      if (check->statuses.data()[i] != kActionPending || changed == outcome->changed.end()) continue;
      std::vector<std::string>& dropped = changed->dropped;
      if (std::find(dropped.begin(), dropped.end(), actions[i].name) == dropped.end()) dropped.push_back(actions[i].name);
    }
  }
}

constexpr size_t kNamed = ReloadOutcome::kNamed;

// "name, name and 3 more" of count names, the first of them in names.
std::string some_of(const std::vector<std::string>& names, size_t count) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < kNamed; ++i) text += (i > 0 ? ", " : "") + names[i];
  if (count > kNamed) text += " and " + std::to_string(count - kNamed) + " more";
  return text;
}

}  // namespace

std::string reload_outcome_text(const ReloadOutcome& outcome) {
  std::string text = std::to_string(outcome.unchanged) + (outcome.unchanged == 1 ? " rule" : " rules") + " unchanged";
  if (!outcome.changed.empty()) {
    text += ", " + std::to_string(outcome.changed_count) + " changed: ";
    for (size_t i = 0; i < outcome.changed.size() && i < kNamed; ++i) {
      const auto& [name, dropped, carried] = outcome.changed[i];
      text += (i > 0 ? "; " : "") + name + (carried ? " carried" : " reset");
      if (!dropped.empty()) {
        text += dropped.size() == 1 ? ", its delayed action '" : ", its delayed actions '";
        for (size_t k = 0; k < dropped.size(); ++k) text += (k > 0 ? "', '" : "") + dropped[k];
        text += "' dropped";
      }
    }
    if (outcome.changed_count > kNamed) text += "; and " + std::to_string(outcome.changed_count - kNamed) + " more";
  }
  if (!outcome.added.empty()) {
    text += "; " + std::to_string(outcome.added_count) + " added: " + some_of(outcome.added, outcome.added_count);
  }
  if (!outcome.removed.empty()) {
    text += "; " + std::to_string(outcome.removed_count) + " removed: " + some_of(outcome.removed, outcome.removed_count);
  }
  return text;
}

void engine_load(Engine& engine, std::unique_ptr<LoadedConfig>* running, xmldb_t* db, ReloadOutcome* outcome) {
  std::unique_ptr<LoadedConfig> previous = std::move(*running);
  // The old rules read the file as the new load does: a read of theirs
  // would parse it again anyway once it changed, and their own parse
  // would stand beside the new one until the reload ends.
  if (previous != nullptr) xmldb_follow(previous->db, db);
  route_index_clear(engine.routes);
  engine.checks = nullptr;
  engine.rules = nullptr;
  holds_track(engine);
  *running = config_load(db, previous.get());
  LoadedConfig& config = **running;
  std::vector<Carry> plan;
  if (previous != nullptr) plan = carry_plan(*previous, config);
  if (previous != nullptr && outcome != nullptr) tell_outcome(*previous, config, plan, outcome);
  carry_out(plan);
  if (previous != nullptr) let_go(engine, *previous, config);
  // Nothing of the old load is needed past here: its memory is free for
  // what follows rather than held to the reload's end.
  previous.reset();
  load_take_limits(engine, config);
  load_attach(engine, config);
  std::vector<uint8_t> taken(config.checks.size(), kTakenFresh);
  for (const Carry& c : plan) taken[c.to->seq] = kTakenCarried;
  load_adopt(engine, config, &taken);
  silences_follow_load(engine);
  // A raised limit has room for what waits now, not only after the next
  // child ends or the next action is queued.
  engine.queue->start_waiting();
  holds_settle(engine, true);  // judged again from the states of the rules they name
  restart_write(engine);
}

void engine_release(Engine& engine) {
  route_index_clear(engine.routes);
  if (engine.checks != nullptr) {
    for (const ArCheck& check : *engine.checks) engine.publisher->unsubscribe(check.conf.subscription.c_str());
  }
  engine.checks = nullptr;
  engine.rules = nullptr;
  holds_track(engine);
  engine.queue->attach(nullptr);
}

