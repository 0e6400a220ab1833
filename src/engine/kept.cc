// Rules' kept records: made from the references, written when touched,
// taken up at start.
#include "engine/kept.h"

#include <algorithm>
#include <cstring>

#include "base/clock.h"
#include "actions/queue.h"
#include "base/log.h"
#include "engine/engine.h"
#include "engine/kept_record.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

namespace {

// The same word mixing the configuration's fingerprints use.
void mix(uint64_t* hash, uint64_t word) {
  *hash = (*hash ^ word) * 0xff51afd7ed558ccdULL;
  *hash ^= *hash >> 32;
}

void mix_text(uint64_t* hash, const std::string& text) {
  mix(hash, text.size());
  for (size_t at = 0; at < text.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + at, std::min<size_t>(8, text.size() - at));
    mix(hash, word);
  }
}

// The references of the rule check belongs to: they lie together, in
// load order.
std::pair<size_t, size_t> rule_range(const Engine& engine, const ArCheck& check) {
  const std::deque<ArCheck>& checks = *engine.checks;
  size_t first = check.seq, last = check.seq + 1;
  while (first > 0 && checks[first - 1].conf.ar == check.conf.ar) --first;
  while (last < checks.size() && checks[last].conf.ar == check.conf.ar) ++last;
  return {first, last};
}

int64_t wall_of(Engine& engine, int64_t monotonic_ms) {
  return engine.clock->wall_ms() - (engine.clock->monotonic_ms() - monotonic_ms);
}

int64_t after(int64_t from, int32_t seconds) { return from + static_cast<int64_t>(seconds) * 1000; }

KeptReference reference_of(Engine& engine, const ArCheck& check) {
  const AutoResponse& ar = *check.conf.ar;
  KeptReference ref;
  ref.ref = check.conf.ref_index;
  ref.state = check.state;
  ref.since_ms = wall_of(engine, check.state_time);
  const size_t count = check.trigger_count() + check.resolve_count();
  ref.statuses.assign(check.statuses.data(), check.statuses.data() + count);
  if (check.current_event) {
    const CheckEvent& e = *check.current_event;
    ref.event = KeptEvent{e.key, e.number, e.time_ms, e.value};
  }
  if (check.state == kArTriggered) {
    bool pending = false;
    for (size_t i = 0; i < ar.trigger_actions.size(); ++i) {
      if (check.statuses.data()[i] != kActionPending) continue;
      pending = true;
      ref.delayed.push_back({static_cast<uint32_t>(i), after(ref.since_ms, ar.trigger_actions[i].delay_time),
                             ar.trigger_actions[i].name});
    }
    if (ar.repeat_trigger && !pending) ref.repeat_ms = after(ref.since_ms, ar.repeat_timeout);
  } else if (check.state == kArTimeout) {
    ref.timeout_end_ms = after(ref.since_ms, ar.reset_timeout);
  }
  return ref;
}

}  // namespace

uint64_t kept_fingerprint(const Engine& engine, const ArCheck& any_check_of_rule) {
  const AutoResponse& ar = *any_check_of_rule.conf.ar;
  uint64_t hash = 0x6b65707420726563ULL;  // the record's own start, apart from the configuration's
  mix(&hash, ar.fingerprint);
  mix(&hash, engine.cms_fingerprint);
  const auto [first, last] = rule_range(engine, any_check_of_rule);
  for (size_t i = first; i < last; ++i) {
    const ArCheck& check = (*engine.checks)[i];
    mix(&hash, check.conf.ref_index);
    mix_text(&hash, check.conf.subscription);
  }
  return hash;
}

void kept_touch(Engine& engine, ArCheck* check) {
  if (!engine.keep_records || check->conf.ar->kept_dirty) return;
  check->conf.ar->kept_dirty = true;
  engine.kept_dirty.push_back(check);
}

KeptRule kept_record_of(Engine& engine, const ArCheck& any_check_of_rule) {
  KeptRule record;
  record.fingerprint = kept_fingerprint(engine, any_check_of_rule);
  const auto [first, last] = rule_range(engine, any_check_of_rule);
  for (size_t i = first; i < last; ++i) record.refs.push_back(reference_of(engine, (*engine.checks)[i]));
  // The rule's silences (Engine::silences), until in wall time.
  const auto silenced = engine.silences.find(any_check_of_rule.conf.ar->path);
  if (silenced != engine.silences.end()) {
    const int64_t distance = engine.clock->wall_ms() - engine.clock->monotonic_ms();
    for (const Silence& s : silenced->second) record.silences.push_back({s.ref, s.until_ms + distance, s.origin, s.reason});
  }
  return record;
}

void engine_write_kept(Engine& engine, const KeptTexts* held) {
  for (ArCheck* check : engine.queue->take_touched()) kept_touch(engine, check);
  for (ArCheck* check : engine.kept_dirty) {
    AutoResponse& ar = *check->conf.ar;
    ar.kept_dirty = false;
    if (engine.publisher->stopped()) continue;
    std::string text = kept_rule_format(kept_record_of(engine, *check));
    if (text.size() > kMaxKeptText) {
      ar_log(kLogWarn, "State of AR %s too large to keep: a restart starts it afresh", ar.name.c_str());
      text.assign(1, '-');  // assigning the literal trips a false -Wrestrict of g++ 12 in C++20
    }
    if (held != nullptr) {
      const auto it = held->find(ar.index);
      if (it != held->end() && it->second == text) continue;
    }
    engine.publisher->push(kept_rule_key(ar.index).c_str(), 0, text.c_str());
  }
  engine.kept_dirty.clear();
}

bool kept_resume(Engine& engine, ArCheck* check, const KeptRule& record) {
  if (record.fingerprint != kept_fingerprint(engine, *check)) return false;
  const auto ref = std::find_if(record.refs.begin(), record.refs.end(),
                                [check](const KeptReference& r) { return r.ref == check->conf.ref_index; });
  const size_t count = check->trigger_count() + check->resolve_count();
  if (ref == record.refs.end() || ref->statuses.size() != count) return false;
  // Which states a record may hold with or without an update: one that
  // does not fit is not guessed at.
  const bool needs_event = ref->state == kArTriggered || ref->state == kArResolving;
  if (needs_event != ref->event.has_value()) return false;
  check->state = ref->state;
  std::copy(ref->statuses.begin(), ref->statuses.end(), check->statuses.data());
  if (ref->event) {
    check->current_event = std::make_unique<CheckEvent>(
        CheckEvent{ref->event->key, ref->event->time_ms, ref->event->number, ref->event->value});
  }
  // A wall clock stepped back since must not put the state in the future.
  const int64_t ago = std::max<int64_t>(0, engine.clock->wall_ms() - ref->since_ms);
  check->state_time = engine.clock->monotonic_ms() - ago;
  return true;
}
