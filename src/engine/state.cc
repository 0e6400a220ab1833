// State changes of ArChecks, their publication, and the action-queueing
// steps of the Triggered and Resolving states.
#include "engine/state.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include <cstdlib>

#include "actions/queue.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/log_line.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/level_read.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/publisher.h"
#include "model/ref_key.h"

namespace {

int64_t now_ms(const Engine& engine) { return engine.clock->monotonic_ms(); }

// When something a number of seconds after from falls due.
int64_t after(int64_t from, int32_t seconds) { return from + static_cast<int64_t>(seconds) * 1000; }

// Pushes the state name, the current value (when event is given) and the
// log line. False when the reference key could not be made: nothing is
// published and the caller queues no actions.
bool publish(Engine& engine, ArCheck* check, const CheckEvent* event) {
  restart_touch(engine, check);
  const AutoResponse* ar = check->conf.ar;
  Publisher& out = *engine.publisher;
  const char* state = reference_state_name(check->state);
  LogLine line;
  if (event != nullptr) {
    line = format_log_line("AR: name=%s, index=%u, ref=%u, state=%s, event=%s, value=%s", ar->name.c_str(),
                           ar->index, check->conf.ref_index, state, event->key.c_str(), event->value.c_str());
  } else {
    line = format_log_line("AR: name=%s, index=%u, ref=%u, state=%s", ar->name.c_str(), ar->index,
                           check->conf.ref_index, state);
  }
  std::string reference;
  try {
    reference = archeck_key(*check, "");
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Failed to allocate reference");
    return false;
  }
  out.push_status(reference.c_str(), state);
  if (event != nullptr) {
    // The key of the current value is the reference's with ".curr_entry".
    // Without memory for it the push is lost, as link_push_status loses one
    // it cannot allocate.
    try {
      reference += kCurrEntry;
      out.push_status(reference.c_str(), event->value.c_str());
    } catch (const std::bad_alloc&) {
    }
  }
  out.push_log(line.text);
  return true;
}

// The first of count statuses still Pending; count when there is none.
size_t first_pending(const ActionStatus* statuses, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (statuses[i] == kActionPending) return i;
  }
  return count;
}

// Holds back the action of status for as long as a silence covers check:
// a trigger action until the silence ends, a resolve action only when a
// trigger action of the incident it ends had run (one that triggered and
// resolved inside the silence owes nothing).
void hold(Engine& engine, ArCheck* check, ActionStatus* status) {
  const size_t index = static_cast<size_t>(status - check->statuses.data());
  restart_touch(engine, check);
  if (index < check->trigger_count()) {
    *status = kActionHeld;
    return;
  }
  if (!check->trigger_ran || !check->current_event) {
    *status = kActionDropped;
    return;
  }
  *status = kActionHeld;
  if (!check->held_resolve) check->held_resolve = std::make_unique<HeldResolve>();
  HeldResolve& held = *check->held_resolve;
  if (held.event.key != check->current_event->key || held.event.value != check->current_event->value ||
      held.event.time_ms != check->current_event->time_ms) {
    held.actions.clear();  // a later resolve of the same incident: its own update
    held.event = *check->current_event;
  }
  held.actions.push_back(static_cast<uint32_t>(index - check->trigger_count()));
}

// Hands one entry, due at due_ms, to its queue operation and reports what
// did not queue. A reference silenced when it fell due queues nothing: the
// action is held back (hold) and the state machine goes on as if it had
// been queued. The rule's restart record is written first, so that a
// restart finds the state the action was queued in.
void offer(Engine& engine, ArCheck* check, const Action& action, ActionStatus* status, int64_t due_ms,
           const char* format) {
  const char* action_name = action.name.c_str();
  const char* ar_name = check->conf.ar->name.c_str();
  if (const Silence* silence = silence_covering(engine, *check, due_ms)) {
    ar_log(kLogInfo, "Silenced action %s for AR %s: until %s, by %s", action_name, ar_name,
           silence_until_text(engine, silence->until_ms).c_str(), silence->origin.c_str());
    hold(engine, check, status);
    return;
  }
  if (const AutoResponse* holder = hold_covering(engine, *check)) {
    ar_log(kLogInfo, "Held action %s for AR %s: while %s is Triggered", action_name, ar_name, holder->name.c_str());
    hold(engine, check, status);
    return;
  }
  if (static_cast<size_t>(status - check->statuses.data()) < check->trigger_count()) check->trigger_ran = true;
  const LogLine queuing = format_log_line(format, action_name, ar_name, engine.queue->queued());
  engine.publisher->push_log(queuing.text);
  restart_write_rule(engine, check);
  const int result = action.queue(*engine.actions, check, action, status);
  restart_touch(engine, check);
  if (result != 0) {
    const LogLine outcome = format_log_line(
        result == 1 ? "Action %s for AR %s, skipped" : "Action %s for AR %s, queuing failed", action_name, ar_name);
    engine.publisher->push_log(outcome.text);
    *status = kActionDropped;
  } else if (*status == kActionPending) {
    // An operation that reports success must move the action on; one that
    // does not would be offered again without end.
    *status = kActionDropped;
  }
}

// A level's reference leaving a state with an update keeps it aside, as
// the latest value of its key, to be judged again when it comes back.
void set_aside(ArCheck* check) {
  if (check->current_event && !check->last && reference_is_level(*check)) {
    check->last = std::move(check->current_event);
  }
  check->current_event.reset();
}

const char* const kResolveQueuing = "Queuing resolve action: %s for AR: %s - %d actions in the queue";

// Makes count statuses from first Pending: a new cycle of the reference,
// which the actions queued in earlier ones no longer write into.
void rearm(Engine& engine, ArCheck* check, ActionStatus* first, size_t count) {
  std::fill_n(first, count, kActionPending);
  ++check->cycle;
  restart_touch(engine, check);
}

// Whether a report of a trigger by the check triggers: always for a rule
// without a burst; for one with a burst, when it is the count-th within the
// window, which starts the count again. One that is not is counted and
// logged, and changes nothing else: no state, no publication, no action.
bool completes_burst(Engine& engine, ArCheck* check) {
  const AutoResponse* ar = check->conf.ar;
  if (ar->burst_count < 2) return true;
  const size_t count = static_cast<size_t>(ar->burst_count);
  size_t counted = count;
  try {
    if (!check->burst) check->burst = std::make_unique<BurstTimes>(count);
    counted = check->burst->count(now_ms(engine), static_cast<int64_t>(ar->burst_window) * 1000);
  } catch (const std::bad_alloc&) {
    // Without memory for the times the report cannot be counted: it
    // triggers rather than be lost.
    ar_log(kLogFatal, "Could not allocate burst for AR %s", ar->name.c_str());
  }
  if (counted < count) {
    ar_log(kLogInfo, "AR %s ref %u: %zu of %zu within %d s", ar->name.c_str(), check->conf.ref_index, counted, count,
           static_cast<int>(ar->burst_window));
    return false;
  }
  check->burst.reset();
  return true;
}

void finish(Engine& engine, ArCheck* check) {
  if (check->conf.ar->reset_timeout > 0) {
    reference_timeout(engine, check);
  } else {
    reference_normal(engine, check);
  }
}

}  // namespace

const char* reference_state_name(int state) {
  switch (state) {
    case kArNormal: return "Normal";
    case kArTriggered: return "Triggered";
    case kArResolving: return "Resolving";
    case kArTimeout: return "Timeout";
    case kArDisabled: return "Disabled";
    default: return "Unknown";
  }
}

int reference_apply(Engine& engine, ArCheck* check, const CheckOutcome& outcome, CheckEventPtr event) {
  if (outcome.reading) check->unreadable_reported = false;
  // An update that moves nothing is still the latest value of a level.
  const auto keep = [&] {
    if (reference_is_level(*check)) check->last = std::move(event);
  };
  switch (outcome.kind) {
    case CheckOutcomeKind::kDrop:
      keep();
      return 0;
    case CheckOutcomeKind::kNotReading:
      // A sensor that has dropped out reports the same text for hours.
      if (!check->unreadable_reported) ar_log(kLogWarn, "%s", outcome.reason.c_str());
      check->unreadable_reported = true;
      keep();
      return 0;
    case CheckOutcomeKind::kRefresh:
      return reference_refresh(engine, check, std::move(event));
    case CheckOutcomeKind::kTrigger: {
      if (!completes_burst(engine, check)) {
        keep();
        return 0;
      }
      if (!outcome.reason.empty()) ar_log(kLogInfo, "%s", outcome.reason.c_str());
      // The counter's key is made before the trigger, which may end at once
      // and take the event with it.
      std::string counter_key;
      const bool counts = check->conf.ops->trigger_counter != nullptr &&
                          check->conf.ops->trigger_counter(event->key, &counter_key) == 0;
      reference_trigger(engine, check, std::move(event));
      if (counts) count_trigger(engine, counter_key);
      return 0;
    }
    case CheckOutcomeKind::kResolve:
      if (!outcome.reason.empty()) ar_log(kLogInfo, "%s", outcome.reason.c_str());
      reference_resolve(engine, check, std::move(event));
      return 0;
  }
  return 0;
}

void reference_trigger(Engine& engine, ArCheck* check, CheckEventPtr event) {
  check->state = kArTriggered;
  check->state_time = now_ms(engine);
  check->current_event = std::move(event);
  check->last.reset();
  check->trigger_ran = false;  // a new incident
  if (publish(engine, check, check->current_event.get())) reference_queue_trigger_actions(engine, check);
}

void reference_drop_delayed(const ArCheck* check, const char* why) {
  if (check->state != kArTriggered) return;
  const ActionList& actions = check->conf.ar->trigger_actions;
  const ActionStatus* statuses = check->statuses.data();
  for (size_t i = 0; i < actions.size(); ++i) {
    if (statuses[i] != kActionPending) continue;
    ar_log(kLogInfo, "Delayed action %s for AR %s dropped: %s", actions[i].name.c_str(), check->conf.ar->name.c_str(),
           why);
  }
}

void reference_resolve(Engine& engine, ArCheck* check, CheckEventPtr event) {
  reference_drop_delayed(check, "its reference resolved");
  check->state = kArResolving;
  check->state_time = now_ms(engine);
  check->current_event = std::move(event);
  check->last.reset();
  if (publish(engine, check, check->current_event.get())) reference_queue_resolve_actions(engine, check);
}

int reference_refresh(Engine& engine, ArCheck* check, CheckEventPtr event) {
  check->current_event = std::move(event);
  check->last.reset();
  std::string key;
  try {
    key = archeck_key(*check, kCurrEntry);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  // A value infod sent near its limit may not fit beside the longer key:
  // that push is lost (and logged), the reference goes on.
  const int pushed = engine.publisher->push_status(key.c_str(), check->current_event->value.c_str());
  return pushed == kPublishTooLong ? 0 : pushed;
}

void reference_timeout(Engine& engine, ArCheck* check) {
  check->state = kArTimeout;
  set_aside(check);
  check->state_time = now_ms(engine);
  publish(engine, check, nullptr);
}

void reference_normal(Engine& engine, ArCheck* check) {
  set_aside(check);
  check->cancelled = false;
  rearm(engine, check, check->statuses.data(), check->trigger_count() + check->resolve_count());
  check->state = kArNormal;
  check->state_time = now_ms(engine);
  publish(engine, check, nullptr);
}

void reference_disable(Engine& engine, ArCheck* check) {
  reference_drop_delayed(check, "its rule was disabled");
  check->state = kArDisabled;
  set_aside(check);
  check->state_time = now_ms(engine);
  publish(engine, check, nullptr);
}

void reference_resumed(Engine& engine, ArCheck* check) {
  if (!publish(engine, check, check->current_event.get())) return;
  if (check->state == kArTriggered) reference_queue_trigger_actions(engine, check, false);
  if (check->state == kArResolving) reference_queue_resolve_actions(engine, check);
}

void reference_queue_trigger_actions(Engine& engine, ArCheck* check, bool may_repeat) {
  const AutoResponse* ar = check->conf.ar;
  const ActionList& actions = ar->trigger_actions;
  ActionStatus* statuses = check->trigger_status();
  bool repeated = false;
  while (true) {
    const size_t i = first_pending(statuses, actions.size());
    if (i < actions.size()) {
      const int64_t due = after(check->state_time, actions[i].delay_time);
      if (now_ms(engine) < due) return;
      offer(engine, check, actions[i], &statuses[i], due,
            "Queuing triggered action: %s for AR: %s - %d actions in the queue");
      continue;
    }
    if (!ar->has_resolve) {
      finish(engine, check);
      return;
    }
    // A repeat at most once per call: with a repeat time-out of 0 the
    // actions would otherwise be queued again without end.
    if (!ar->repeat_trigger || repeated || !may_repeat) return;
    if (now_ms(engine) < after(check->state_time, ar->repeat_timeout)) return;
    repeated = true;
    rearm(engine, check, statuses, actions.size());
    check->state_time = now_ms(engine);
  }
}

void reference_queue_resolve_actions(Engine& engine, ArCheck* check) {
  const ActionList& actions = check->conf.ar->resolve_actions;
  ActionStatus* statuses = check->resolve_status();
  for (size_t i; (i = first_pending(statuses, actions.size())) < actions.size();) {
    offer(engine, check, actions[i], &statuses[i], check->state_time, kResolveQueuing);
  }
  finish(engine, check);
}

void reference_judge_again(Engine& engine, ArCheck* check) {
  if (!reference_is_level(*check) || (check->state != kArNormal && check->state != kArTriggered)) return;
  const CheckEvent* latest = check->last ? check->last.get() : check->current_event.get();
  if (latest == nullptr) return;
  auto event = std::make_unique<CheckEvent>(*latest);
  const CheckOutcome outcome = check->conf.ops->on_event(check, *event);
  // What holds as it held, or holds no reading, changes nothing.
  if (outcome.kind != CheckOutcomeKind::kTrigger && outcome.kind != CheckOutcomeKind::kResolve) return;
  reference_apply(engine, check, outcome, std::move(event));
}

void reference_settle_held(Engine& engine, ArCheck* check) {
  ActionStatus* triggers = check->trigger_status();
  const size_t count = check->trigger_count();
  const bool any = std::any_of(triggers, triggers + count, [](ActionStatus s) { return s == kActionHeld; });
  if (!any && !check->held_resolve) return;
  if (silence_covering(engine, *check, now_ms(engine)) != nullptr || hold_covering(engine, *check) != nullptr) return;
  restart_touch(engine, check);
  std::unique_ptr<HeldResolve> owed = std::move(check->held_resolve);
  if (check->state == kArTriggered) {
    // Still Triggered: what was held back runs, each at its time.
    std::replace(triggers, triggers + count, kActionHeld, kActionPending);
    reference_queue_trigger_actions(engine, check);
    return;
  }
  std::replace(triggers, triggers + count, kActionHeld, kActionDropped);  // its incident is over
  if (owed == nullptr) return;
  if (check->state == kArDisabled) {
    ar_log(kLogInfo, "Held resolve actions of AR %s ref %u dropped: its rule is disabled",
           check->conf.ar->name.c_str(), check->conf.ref_index);
    return;
  }
  // Resolved after its trigger actions had run: the resolve actions held
  // back run, with the update they fell due for.
  CheckEventPtr current = std::move(check->current_event);
  check->current_event = std::make_unique<CheckEvent>(owed->event);
  const ActionList& actions = check->conf.ar->resolve_actions;
  ActionStatus* statuses = check->resolve_status();
  for (const uint32_t j : owed->actions) {
    if (j >= actions.size()) continue;
    statuses[j] = kActionPending;
    offer(engine, check, actions[j], &statuses[j], now_ms(engine), kResolveQueuing);
  }
  check->current_event = std::move(current);
  // Whatever the reference did meanwhile, it stays armed as it was.
  if (check->state == kArNormal) rearm(engine, check, check->statuses.data(), count + check->resolve_count());
}

int count_trigger(Engine& engine, const std::string& counter_key) {
  std::optional<std::string> stored;
  const int fetched = engine.counter->fetch(counter_key, &stored);
  if (fetched != 0) {
    // Pushing 1 now would lose the stored count; the next trigger counts on.
    if (fetched == -1) ar_log(kLogError, "Could not read %s", counter_key.c_str());
    return -1;
  }
  long count = 1;
  if (stored) {
    const long n = strtol(stored->c_str(), nullptr, 10);
    count = (n < 0 || n >= 2147483647L) ? 1 : n + 1;
  }
  const std::string text = std::to_string(count);
  ar_log(kLogInfo, "%s => %s", counter_key.c_str(), text.c_str());
  engine.counter->save(counter_key, text);
  return 0;
}
