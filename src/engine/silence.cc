// Silences of rules' references: kept by rule path, consulted before an
// action is queued, ended by time, by hand or with their rule.
#include "engine/silence.h"

#include <algorithm>
#include <set>

#include "base/clock.h"
#include "base/local_time.h"
#include "base/log.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

int64_t now_ms(Engine& engine) { return engine.clock->monotonic_ms(); }

bool over(Engine& engine, const Silence& silence) { return now_ms(engine) >= silence.until_ms; }

void log_end(const std::string& path, const Silence& silence, const std::string& why) {
  ar_log(kLogInfo, "Silence of %s of AR %s ended: %s", silenced_whom(silence.ref).c_str(), path.c_str(), why.c_str());
}

// Ends those of the rule at path whose time has come; whether any did.
bool end_over(Engine& engine, const std::string& path, std::vector<Silence>* silences) {
  const auto ended = std::stable_partition(silences->begin(), silences->end(),
                                           [&](const Silence& s) { return !over(engine, s); });
  if (ended == silences->end()) return false;
  for (auto s = ended; s != silences->end(); ++s) log_end(path, *s, "its time came");
  silences->erase(ended, silences->end());
  return true;
}

// The references of the rule check belongs to: they lie together, in load
// order.
template <class Visit>
void each_of_rule(Engine& engine, const ArCheck& check, Visit visit) {
  const ArCheckList& checks = *engine.checks;
  size_t first = check.seq;
  while (first > 0 && checks[first - 1].conf.ar == check.conf.ar) --first;
  for (size_t i = first; i < checks.size() && checks[i].conf.ar == check.conf.ar; ++i) visit(checks[i]);
}

// What the ended silences of the rule of check held back is settled.
void settle_rule(Engine& engine, const ArCheck& check) {
  const ArCheckList& checks = *engine.checks;
  size_t first = check.seq;
  while (first > 0 && checks[first - 1].conf.ar == check.conf.ar) --first;
  for (size_t i = first; i < checks.size() && checks[i].conf.ar == check.conf.ar; ++i) {
    reference_settle_held(engine, &(*engine.checks)[i]);
  }
}

bool has_reference(Engine& engine, const ArCheck& check, uint32_t ref) {
  bool found = false;
  each_of_rule(engine, check, [&](const ArCheck& c) { found = found || c.conf.ref_index == ref; });
  return found;
}

// A silence that stands in the way of one of ref: its own, the rule's, or
// for ref 0 any.
const Silence* in_the_way(const std::vector<Silence>& silences, uint32_t ref) {
  for (const Silence& s : silences) {
    if (silences_overlap(s.ref, ref)) return &s;
  }
  return nullptr;
}

// Which references of each rule a load has, by path, for the rules that
// have silences.
std::map<std::string, std::set<uint32_t>> silenced_rules_loaded(const Engine& engine,
                                                                const ArCheckList& checks) {
  std::map<std::string, std::set<uint32_t>> loaded;
  for (const ArCheck& check : checks) {
    if (check.conf.ar == nullptr) continue;
    const RulePath path = check.conf.ar->path();
    if (engine.silences.find(path.view()) != engine.silences.end()) loaded[path].insert(check.conf.ref_index);
  }
  return loaded;
}

}  // namespace

const Silence* silence_covering(Engine& engine, const ArCheck& check, int64_t when_ms) {
  if (engine.silences.empty()) return nullptr;
  const auto it = engine.silences.find(check.conf.ar->path().view());
  if (it == engine.silences.end()) return nullptr;
  for (const Silence& s : it->second) {
    if (silence_covers(s.ref, check.conf.ref_index) && when_ms < s.until_ms) return &s;
  }
  return nullptr;
}

std::string silence_add(Engine& engine, ArCheck* any_check_of_rule, uint32_t ref, int64_t seconds,
                        const std::string& origin, const std::string& reason) {
  if (std::string why = silence_bounds_refusal(seconds, reason.size()); !why.empty()) return why;
  if (ref != 0 && !has_reference(engine, *any_check_of_rule, ref)) return "it has no reference " + std::to_string(ref);
  const std::string path = any_check_of_rule->conf.ar->path().str();
  std::vector<Silence>& silences = engine.silences[path];
  // One whose time has come but that no tick has ended yet is over.
  if (end_over(engine, path, &silences)) {
    restart_touch(engine, any_check_of_rule);
    settle_rule(engine, *any_check_of_rule);
  }
  if (const Silence* s = in_the_way(silences, ref)) {
    return silenced_whom(s->ref) + " is silenced already until " + silence_until_text(engine, s->until_ms);
  }
  silences.push_back({ref, now_ms(engine) + seconds * 1000, origin, reason});
  ar_log(kLogInfo, "Silence of %s of AR %s until %s, by %s%s%s", silenced_whom(ref).c_str(), path.c_str(),
         silence_until_text(engine, silences.back().until_ms).c_str(), origin.c_str(), reason.empty() ? "" : ": ",
         reason.c_str());
  restart_touch(engine, any_check_of_rule);
  return "";
}

std::string silence_lift(Engine& engine, ArCheck* any_check_of_rule, uint32_t ref, const std::string& origin) {
  const std::string path = any_check_of_rule->conf.ar->path().str();
  const auto it = engine.silences.find(path);
  std::vector<Silence>* silences = it != engine.silences.end() ? &it->second : nullptr;
  if (silences != nullptr) {
    const auto lifted = std::stable_partition(silences->begin(), silences->end(), [&](const Silence& s) {
      return !unsilence_lifts(ref, s.ref);
    });
    if (lifted != silences->end()) {
      for (auto s = lifted; s != silences->end(); ++s) log_end(path, *s, "lifted by " + origin);
      silences->erase(lifted, silences->end());
      if (silences->empty()) engine.silences.erase(it);
      restart_touch(engine, any_check_of_rule);
      settle_rule(engine, *any_check_of_rule);
      return "";
    }
  }
  if (ref != 0 && silences != nullptr && in_the_way(*silences, ref) != nullptr) {
    return "reference " + std::to_string(ref) + " is silenced only with every reference (lift that with 0)";
  }
  return silenced_whom(ref) + " is not silenced";
}

void silences_expire(Engine& engine) {
  if (engine.silences.empty() || engine.checks == nullptr) return;
  const AutoResponse* rule = nullptr;
  for (ArCheck& check : *engine.checks) {
    if (check.conf.ar == rule) continue;
    rule = check.conf.ar;
    const auto it = engine.silences.find(rule->path().view());
    if (it == engine.silences.end()) continue;
    if (!end_over(engine, rule->path(), &it->second)) continue;
    if (it->second.empty()) engine.silences.erase(it);
    restart_touch(engine, &check);
    settle_rule(engine, check);
  }
}

void silences_follow_load(Engine& engine) {
  if (engine.silences.empty()) return;
  const std::map<std::string, std::set<uint32_t>> loaded = silenced_rules_loaded(engine, *engine.checks);
  for (auto it = engine.silences.begin(); it != engine.silences.end();) {
    const auto refs = loaded.find(it->first);
    std::vector<Silence>& silences = it->second;
    const auto gone = std::stable_partition(silences.begin(), silences.end(), [&](const Silence& s) {
      return refs != loaded.end() && (s.ref == 0 || refs->second.count(s.ref) > 0);
    });
    for (auto s = gone; s != silences.end(); ++s) {
      log_end(it->first, *s, refs == loaded.end() ? "the rule was removed" : "the reference was removed");
    }
    silences.erase(gone, silences.end());
    // A rule that keeps some of its silences rewrites its record: every
    // reference a reload builds again is touched, and a kept one that lost
    // a silence is touched here.
    if (refs != loaded.end() && gone != silences.end()) {
      for (ArCheck& check : *engine.checks) {
        if (check.conf.ar->path() == it->first) {
          restart_touch(engine, &check);
          break;
        }
      }
    }
    it = silences.empty() ? engine.silences.erase(it) : std::next(it);
  }
}

void silences_take_up(Engine& engine, const ArCheckList& checks, const RestartState& records) {
  engine.silences.clear();
  const int64_t now = now_ms(engine);
  const AutoResponse* rule = nullptr;
  for (size_t i = 0; i < checks.size(); ++i) {
    if (checks[i].conf.ar == nullptr || checks[i].conf.ar == rule) continue;
    rule = checks[i].conf.ar;
    const auto record = records.rules.find(rule->index);
    if (record == records.rules.end() || record->second.silences.empty()) continue;
    std::set<uint32_t> refs;
    for (size_t k = i; k < checks.size() && checks[k].conf.ar == rule; ++k) refs.insert(checks[k].conf.ref_index);
    std::vector<Silence> silences;
    for (const RestartSilence& s : record->second.silences) {
      if ((s.ref != 0 && refs.count(s.ref) == 0) || in_the_way(silences, s.ref) != nullptr ||
          s.reason.size() > kMaxSilenceReason) {
        continue;
      }
      const int64_t until = restart_time(engine, *record->second.clock, s.until_ms);
      silences.push_back({s.ref, std::min(until, now + int64_t{kMaxSilenceSeconds} * 1000), s.origin, s.reason});
    }
    if (!silences.empty()) engine.silences[rule->path()] = std::move(silences);
  }
}

std::string silence_until_text(Engine& engine, int64_t until_ms) {
  const int64_t wall_ms = until_ms + engine.clock->wall_ms() - now_ms(engine);
  return local_time_text(Clock::floor_div(wall_ms, 1000), "?");
}
