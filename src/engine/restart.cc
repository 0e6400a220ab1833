// Rules' restart records: made from the references, written when touched,
// taken up at start.
#include "engine/restart.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>

#include "actions/action_env.h"
#include "actions/queue.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/log_line.h"
#include "base/record_store.h"
#include "engine/engine.h"
#include "engine/tick.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

namespace {

constexpr char kRulePrefix[] = "rule.";

// The same word mixing the configuration's fingerprints use.
void mix(uint64_t* hash, uint64_t word) {
  *hash = (*hash ^ word) * 0xff51afd7ed558ccdULL;
  *hash ^= *hash >> 32;
}

void mix_text(uint64_t* hash, std::string_view text) {
  mix(hash, text.size());
  for (size_t at = 0; at < text.size(); at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, text.data() + at, std::min<size_t>(8, text.size() - at));
    mix(hash, word);
  }
}

// The references of the rule check belongs to: they lie together, in
// load order.
std::pair<size_t, size_t> rule_range(const ArCheckList& checks, size_t at) {
  const ArCheck& check = checks[at];
  size_t first = at, last = at + 1;
  while (first > 0 && checks[first - 1].conf.ar == check.conf.ar) --first;
  while (last < checks.size() && checks[last].conf.ar == check.conf.ar) ++last;
  return {first, last};
}

std::pair<size_t, size_t> rule_range(const Engine& engine, const ArCheck& check) {
  return rule_range(*engine.checks, check.seq);
}

int64_t after(int64_t from, int32_t seconds) { return from + static_cast<int64_t>(seconds) * 1000; }

// When the window that disabled check's rule ends, in wall milliseconds: the
// minute after today's window's last; 0 when none is open now.
int64_t window_end(Engine& engine, const AutoResponse& ar) {
  tm local{};
  if (!engine_local_time(engine, &local) || !disable_window_open(ar, local)) return 0;
  const DisableWindow& w = ar.disable[local.tm_wday];
  local.tm_hour = w.end_hour;
  local.tm_min = w.end_min + 1;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  const time_t end = mktime(&local);
  return end == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(end) * 1000;
}

RestartReference reference_of(Engine& engine, const ArCheck& check, int64_t shift, bool shown) {
  const AutoResponse& ar = *check.conf.ar;
  RestartReference ref;
  ref.ref = check.conf.ref_index;
  ref.state = check.state;
  ref.since_ms = check.state_time + shift;
  ref.cycle = check.cycle;
  const size_t count = check.trigger_count() + check.resolve_count();
  ref.statuses.assign(check.statuses.data(), check.statuses.data() + count);
  if (check.current_event) ref.event = *check.current_event;
  ref.trigger_ran = check.trigger_ran;
  ref.cancelled = check.cancelled;
  if (check.held_resolve) {
    ref.held_resolve = check.held_resolve->actions;
    ref.held_event = check.held_resolve->event;
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
  if (shown) {
    ref.key_hash = key_hash(check.conf.subscription);
    if (check.state == kArDisabled) ref.window_end_ms = window_end(engine, ar);
  }
  return ref;
}

// Whether a fresh start would start the rule of record just as it stands:
// then no file record is needed.
bool as_fresh(const RestartRule& record) {
  return record.silences.empty() && std::all_of(record.refs.begin(), record.refs.end(), [](const RestartReference& r) {
           return (r.state == kArNormal || r.state == kArDisabled) && r.held_resolve.empty();
         });
}

uint64_t text_hash(std::string_view text) {
  uint64_t hash = 0x7265636f72640a00ULL;
  mix_text(&hash, text);
  return hash | 1;  // never 0, which stands for no record
}

// Writes the file record of check's rule when it differs from what the
// store holds, or removes it when a fresh start does as well.
void write_file(Engine& engine, ArCheck* check) {
  AutoResponse& ar = *check->conf.ar;
  ar.restart_dirty &= ~kRestartFileDirty;
  if (engine.records == nullptr) return;
  const RestartRule record = restart_record_of(engine, *check, false);
  const std::string name = rule_record_name(ar.index);
  const auto held = engine.recorded.find(ar.index);
  if (as_fresh(record)) {
    if (held == engine.recorded.end()) return;
    engine.records->remove(name);
    engine.recorded.erase(held);
    return;
  }
  const std::string text = restart_rule_format(record);
  const uint64_t hash = text_hash(text);
  if (held != engine.recorded.end() && held->second == hash) return;
  if (text.size() > kMaxRecordSize) {
    ar_log(kLogWarn, "State of AR %s too large to keep: a restart starts it afresh", ar.name.c_str());
  } else if (engine.records->write(name, text)) {
    engine.recorded[ar.index] = hash;
    return;
  }
  // What the store holds no longer says how the rule stands.
  engine.records->remove(name);
  engine.recorded.erase(ar.index);
}

// Why reference ref of record cannot be taken up by check now; empty when
// it can. since is when it entered its state, on the monotonic clock now.
std::string unfit(Engine& engine, const ArCheck& check, const RestartReference& ref, int64_t since, int64_t now) {
  const AutoResponse& ar = *check.conf.ar;
  if (ref.statuses.size() != check.trigger_count() + check.resolve_count()) {
    return "it holds " + std::to_string(ref.statuses.size()) + " action statuses, the rule has " +
           std::to_string(check.trigger_count() + check.resolve_count());
  }
  const bool needs_event = ref.state == kArTriggered || ref.state == kArResolving;
  if (needs_event != ref.event.has_value()) return needs_event ? "it has no update" : "it has an update";
  if (ref.held_resolve.empty() != !ref.held_event.has_value()) return "it holds resolve actions back without their update";
  for (const uint32_t j : ref.held_resolve) {
    if (j >= check.resolve_count()) return "it holds back resolve action " + std::to_string(j) + ", which the rule lacks";
  }
  if (since > now) return "it entered its state in the future";
  switch (ref.state) {
    case kArTimeout:
      if (ar.reset_timeout <= 0) return "Timeout, but the rule has no reset_timeout";
      break;
    case kArDisabled: {
      tm local{};
      if (!engine_local_time(engine, &local) || !disable_window_open(ar, local)) {
        return "Disabled, but no window of the rule is open now";
      }
      break;
    }
    default:
      break;
  }
  return "";
}

}  // namespace

uint64_t restart_fingerprint(const Engine& engine, const ArCheck& any_check_of_rule) {
  return restart_fingerprint_of(*engine.checks, engine.cms_fingerprint, any_check_of_rule.seq);
}

uint64_t restart_fingerprint_of(const ArCheckList& checks, uint64_t cms_fingerprint, size_t at) {
  const AutoResponse& ar = *checks[at].conf.ar;
  uint64_t hash = 0x6b65707420726563ULL;  // the record's own start, apart from the configuration's
  mix(&hash, ar.fingerprint);
  mix(&hash, cms_fingerprint);
  const auto [first, last] = rule_range(checks, at);
  for (size_t i = first; i < last; ++i) {
    const ArCheck& check = checks[i];
    mix(&hash, check.conf.ref_index);
    mix_text(&hash, check.conf.subscription);
  }
  return hash;
}

void restart_touch(Engine& engine, ArCheck* check) {
  if (engine.records == nullptr) return;
  AutoResponse& ar = *check->conf.ar;
  if (ar.restart_dirty == 0) engine.restart_dirty.push_back(check);
  ar.restart_dirty = kRestartFileDirty | kRestartShownDirty;
}

void restart_write_rule(Engine& engine, ArCheck* check) {
  if ((check->conf.ar->restart_dirty & kRestartFileDirty) != 0) write_file(engine, check);
}

RestartRule restart_record_of(Engine& engine, const ArCheck& any_check_of_rule, bool shown) {
  RestartRule record;
  record.fingerprint = any_check_of_rule.conf.ar->restart_fingerprint;
  const int64_t wall = engine.clock->wall_ms(), monotonic = engine.clock->monotonic_ms();
  const int64_t shift = shown ? wall - monotonic : 0;
  if (!shown) record.clock = RecordClock{engine.boot_id, wall, monotonic};
  const auto [first, last] = rule_range(engine, any_check_of_rule);
  for (size_t i = first; i < last; ++i) record.refs.push_back(reference_of(engine, (*engine.checks)[i], shift, shown));
  // The rule's silences (Engine::silences).
  const auto silenced = engine.silences.find(any_check_of_rule.conf.ar->path().view());
  if (silenced != engine.silences.end()) {
    for (const Silence& s : silenced->second) record.silences.push_back({s.ref, s.until_ms + shift, s.origin, s.reason});
  }
  return record;
}

void restart_write(Engine& engine) {
  for (ArCheck* check : engine.queue->take_touched()) restart_touch(engine, check);
  for (ArCheck* check : engine.restart_dirty) {
    AutoResponse& ar = *check->conf.ar;
    if ((ar.restart_dirty & kRestartFileDirty) != 0) write_file(engine, check);
    ar.restart_dirty = 0;
    if (engine.publisher->stopped()) continue;
    std::string text = restart_rule_format(restart_record_of(engine, *check, true));
    if (text.size() > kMaxShownText) text.assign(1, '-');  // assigning the literal trips a false -Wrestrict of g++ 12
    engine.publisher->push(shown_record_key(ar.index).c_str(), 0, text.c_str());
  }
  engine.restart_dirty.clear();
}

RestartState restart_read(Engine& engine) {
  RestartState state;
  engine.recorded.clear();
  if (engine.records == nullptr) return state;
  std::vector<uint64_t> started;
  for (auto& [name, text] : engine.records->read_all()) {
    uint64_t order = 0;
    bool start = false;
    uint32_t rule = 0;
    bool read = false;
    if (queue_record_order(name, &order, &start)) {
      if (start) {
        started.push_back(order);
        continue;
      }
      RestartState::Queued queued;
      read = queue_record_parse(text, &queued.record);
      if (read) state.actions.emplace(order, std::move(queued));
    } else if (name.rfind(kRulePrefix, 0) == 0) {
      const std::string digits = name.substr(sizeof kRulePrefix - 1);
      RestartRule record;
      read = !digits.empty() && digits[0] != '0' && digits.size() <= 5 &&
             digits.find_first_not_of("0123456789") == std::string::npos &&
             restart_rule_parse(text, &record) && record.clock.has_value();
      if (read) {
        rule = static_cast<uint32_t>(std::stoul(digits));
        engine.recorded[rule] = text_hash(text);
        state.rules.emplace(rule, std::move(record));
      }
    }
    if (!read) {
      ar_log(kLogError, "Refused restart record %s: not a record the daemon writes", name.c_str());
      engine.records->remove(name);
    }
  }
  for (const uint64_t order : started) {
    const auto it = state.actions.find(order);
    if (it != state.actions.end()) {
      it->second.started = true;
    } else {
      engine.records->remove(queue_start_name(order));  // its action left before the process ended
    }
  }
  return state;
}

int64_t restart_time(Engine& engine, const RecordClock& clock, int64_t ms) {
  if (clock.boot != "-" && clock.boot == engine.boot_id) return ms;
  // Another boot: its monotonic clock began elsewhere; the wall clocks of
  // the two boots are the one thing they share.
  return ms + (clock.wall_ms - clock.monotonic_ms) - (engine.clock->wall_ms() - engine.clock->monotonic_ms());
}

bool restart_resume(Engine& engine, ArCheck* check, const RestartRule& record) {
  if (record.fingerprint != check->conf.ar->restart_fingerprint || !record.clock) return false;
  const auto ref = std::find_if(record.refs.begin(), record.refs.end(),
                                [check](const RestartReference& r) { return r.ref == check->conf.ref_index; });
  if (ref == record.refs.end()) return false;
  const int64_t now = engine.clock->monotonic_ms();
  int64_t since = restart_time(engine, *record.clock, ref->since_ms);
  // After a reboot the wall clock may have been stepped back meanwhile: a
  // state is never entered in the future.
  if (record.clock->boot != engine.boot_id) since = std::min(since, now);
  const std::string why = unfit(engine, *check, *ref, since, now);
  if (!why.empty()) {
    ar_log(kLogError, "Restart record of AR %s ref %u refused: %s; it starts afresh", check->conf.ar->name.c_str(),
           check->conf.ref_index, why.c_str());
    return false;
  }
  check->state = ref->state;
  check->cycle = ref->cycle;
  std::copy(ref->statuses.begin(), ref->statuses.end(), check->statuses.data());
  if (ref->event) check->current_event = std::make_unique<CheckEvent>(*ref->event);
  check->trigger_ran = ref->trigger_ran;
  check->cancelled = ref->cancelled;
  if (ref->held_event) {
    check->held_resolve = std::make_unique<HeldResolve>(HeldResolve{ref->held_resolve, *ref->held_event});
  }
  check->state_time = since;
  return true;
}

void restart_forget_other_rules(Engine& engine, const RuleList& loaded,
                                const std::map<uint32_t, RestartRule>& rules) {
  if (engine.records == nullptr) return;
  for (const auto& [number, record] : rules) {
    // The load's rules are in the order of their numbers.
    const auto it = std::lower_bound(loaded.begin(), loaded.end(), number,
                                     [](const AutoResponse& ar, uint32_t n) { return ar.index < n; });
    if (it != loaded.end() && it->index == number) continue;
    engine.records->remove(rule_record_name(number));
    engine.recorded.erase(number);
  }
}

namespace {

// What an action's queue operation is given to build its command again at
// start: the time it was first queued at, and nothing it could act on but
// the sink that takes the command.
class QueuedAtClock final : public Clock {
 public:
  QueuedAtClock(Clock& clock, int64_t wall_ms) : clock_(clock), wall_ms_(wall_ms) {}
  int64_t monotonic_ms() override { return clock_.monotonic_ms(); }
  int64_t wall_ms() override { return wall_ms_; }

 private:
  Clock& clock_;
  int64_t wall_ms_;
};

class NoPublisher final : public Publisher {
 public:
  int push(const char* /*key*/, int /*number*/, const char* /*value*/) override { return -1; }
  int push_status(const char* /*key*/, const char* /*value*/) override { return -1; }
  int subscribe(const char* /*key*/) override { return -1; }
  int unsubscribe(const char* /*key*/) override { return -1; }
  int get(const char* /*key*/) override { return -1; }
  bool stopped() const override { return false; }
};

class NoSpool final : public SmsSpool {
 public:
  Result spool(const std::string& /*number*/, const std::string& /*message*/) override { return kNotCreated; }
};

class CommandSink final : public ActionSink {
 public:
  int enqueue(ArCheck* /*check*/, const Action& /*action*/, ActionStatus* /*status*/, const std::string& path,
              const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag) override {
    taken = true;
    command.path = path;
    command.argv = argv;
    command.envp = envp;
    command.tag = tag;
    return 0;
  }
  bool taken = false;
  QueuedAction command;
};

// The command of action for check as it was queued with record: built by
// the action's own queue operation with the update and the time of then.
bool build_again(Engine& engine, ArCheck* check, const Action& action, const QueueRecord& record, QueuedAction* qa) {
  QueuedAtClock clock(*engine.clock, record.queued_ms);
  NoPublisher publisher;
  NoSpool spool;
  CommandSink sink;
  const ActionEnv& real = *engine.actions;
  const ActionEnv env{.paths = real.paths, .spool = spool, .clock = clock, .hostname = real.hostname,
                      .publisher = publisher, .queue = sink};
  CheckEventPtr now = std::move(check->current_event);
  if (record.event) check->current_event = std::make_unique<CheckEvent>(*record.event);
  ActionStatus status = kActionPending;
  const int result = action.queue(env, check, action, &status);
  check->current_event = std::move(now);
  if (result != 0 || !sink.taken) return false;
  qa->path = std::move(sink.command.path);
  qa->argv = std::move(sink.command.argv);
  qa->envp = std::move(sink.command.envp);
  qa->tag = sink.command.tag;
  return true;
}

void say(Engine& engine, const std::string& line) {
  ar_log(kLogInfo, "%s", line.c_str());
  const LogLine cut = format_log_line("%s", line.c_str());
  engine.publisher->push_log(cut.text);
}

// The reference of rule number rule the load has, with rule's first
// reference at first; null for none.
ArCheck* reference(Engine& engine, const std::map<uint32_t, size_t>& first, uint32_t rule, uint32_t ref) {
  const auto it = first.find(rule);
  if (it == first.end()) return nullptr;
  ArCheckList& checks = *engine.checks;
  for (size_t i = it->second; i < checks.size() && checks[i].conf.ar->index == rule; ++i) {
    if (checks[i].conf.ref_index == ref) return &checks[i];
  }
  return nullptr;
}

}  // namespace

void restart_requeue(Engine& engine, const RestartState& records, const std::vector<bool>& resumed) {
  if (records.actions.empty()) return;
  std::map<uint32_t, size_t> first;
  for (const ArCheck& check : *engine.checks) first.emplace(check.conf.ar->index, check.seq);
  for (const auto& [order, queued] : records.actions) {
    const QueueRecord& r = queued.record;
    engine.queue->continue_order(order);
    ArCheck* check = reference(engine, first, r.rule, r.ref);
    const ActionList* list = check != nullptr ? &action_list(*check->conf.ar, static_cast<ActionListId>(r.list)) : nullptr;
    std::string why;
    if (first.count(r.rule) == 0) {
      why = "its rule is not loaded";
    } else if (check == nullptr || check->conf.ar->restart_fingerprint != r.fingerprint) {
      why = "its rule has changed";
    } else if (r.action >= list->size() || (*list)[r.action].name != r.action_name) {
      why = "its rule has no such action";
    }
    const bool fits = why.empty();
    const uint32_t index = !fits ? 0 : r.action + (r.list == kResolveList ? static_cast<uint32_t>(check->trigger_count()) : 0);
    const bool owned = fits && resumed[check->seq] && check->cycle == r.cycle &&
                       (check->state == kArTriggered || check->state == kArResolving);
    if (owned) {
      // What the record says ran, or is queued, is no longer due.
      check->statuses.data()[index] = kActionQueued;
      restart_touch(engine, check);
    }
    QueuedAction qa;
    if (why.empty() && queued.started) {
      say(engine, "Action " + r.action_name + " for AR " + r.rule_name +
                      " was running when the daemon stopped: not run again");
    } else if (why.empty() && engine.queue->queued() > kMaxQueuedActions) {
      why = "the queue is full";
    } else if (why.empty() && !build_again(engine, check, (*list)[r.action], r, &qa)) {
      why = "its command could not be built again";
    }
    if (!why.empty()) say(engine, "Dropped action: " + r.action_name + " for AR: " + r.rule_name + " - " + why);
    if (!why.empty() || queued.started) {
      engine.records->remove(queue_record_name(order));
      if (queued.started) engine.records->remove(queue_start_name(order));
      continue;
    }
    const AutoResponse& ar = *check->conf.ar;
    qa.action_name = r.action_name;
    qa.action_path = action_path(ar, (*list)[r.action]);
    qa.ar_name = ar.name;
    qa.ar_path = ar.path();
    qa.entry = QueuedEntry{owned ? check->id : 0, index, r.cycle};
    qa.order = order;
    engine.queue->requeue(std::move(qa));
  }
}
