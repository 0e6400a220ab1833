// The tick: disable windows, the end of Timeout and the due actions of
// every reference, every five seconds.
#include "engine/tick.h"

#include <algorithm>
#include <ctime>

#include "actions/queue.h"
#include "base/clock.h"
#include "engine/engine.h"
#include "engine/level_read.h"
#include "engine/hold.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

namespace {

void tick_one(Engine& engine, ArCheck* check, const tm& local) {
  const AutoResponse* ar = check->conf.ar;
  if (ar->schedule_enabled) {
    if (disable_window_open(*ar, local)) {
      if (check->state != kArDisabled) reference_disable(engine, check);
      return;
    }
    if (check->state == kArDisabled) {
      reference_normal(engine, check);
      reference_judge_again(engine, check);  // what the window hid
    }
  }
  switch (check->state) {
    case kArTriggered:
      reference_queue_trigger_actions(engine, check);
      break;
    case kArResolving:
      reference_queue_resolve_actions(engine, check);
      break;
    case kArTimeout:
      if (engine.clock->monotonic_ms() > check->state_time + static_cast<int64_t>(ar->reset_timeout) * 1000) {
        // A Timeout an operator's cancel began waits for the next update.
        const bool cancelled = check->cancelled;
        reference_normal(engine, check);
        if (!cancelled) reference_judge_again(engine, check);
      }
      break;
    default:
      break;
  }
}

// Whether ticks leave check as it is until something else moves it.
bool waits_for_nothing(const ArCheck& check) {
  const AutoResponse* ar = check.conf.ar;
  if (ar->schedule_enabled) return false;
  switch (check.state) {
    case kArTriggered: {
      if (ar->repeat_trigger || !ar->has_resolve) return false;
      const ActionStatus* statuses = check.statuses.data();
      return std::none_of(statuses, statuses + check.trigger_count(),
                          [](ActionStatus s) { return s == kActionPending; });
    }
    case kArResolving:
    case kArTimeout:
      return false;
    default:
      return true;
  }
}

}  // namespace

bool engine_tick_idle(const Engine& engine) {
  if (!engine.silences.empty()) return false;  // each ends at a tick
  if (!engine.reads_out.empty()) return false;  // each is given up at a tick
  if (engine.checks != nullptr && !std::all_of(engine.checks->begin(), engine.checks->end(), waits_for_nothing)) {
    return false;
  }
  const ActionQueue& queue = *engine.queue;
  return std::none_of(queue.entries().begin(), queue.entries().end(), [&queue](const QueuedAction& qa) {
    return qa.state == kQueuedRunning && (qa.terminated >= 0 ? !qa.killed : queue.action_timeout > 0);
  });
}

bool disable_window_contains(const DisableWindow& w, int hour, int minute) {
  const bool before = hour < w.start_hour || (hour == w.start_hour && minute < w.start_min);
  const bool after = hour > w.end_hour || (hour == w.end_hour && minute > w.end_min);
  const bool empty = w.start_hour == w.end_hour && w.start_min == w.end_min;
  return !before && !after && !empty;
}

bool disable_window_open(const AutoResponse& ar, const tm& local) {
  return ar.schedule_enabled && local.tm_wday >= 0 && local.tm_wday < 7 &&
         disable_window_contains(ar.disable[local.tm_wday], local.tm_hour, local.tm_min);
}

bool engine_local_time(Engine& engine, tm* local) {
  // localtime_r reads the zone once per process; tzset looks again, so a
  // zone the administrator changed rules the windows from this tick on.
  tzset();
  const time_t wall = engine.clock->wall_seconds();
  return localtime_r(&wall, local) != nullptr;
}

void engine_tick(Engine& engine) {
  tm local{};
  engine_local_time(engine, &local);
  // Before the references: an action due at the very end of a silence runs.
  silences_expire(engine);
  if (engine.checks != nullptr) {
    for (ArCheck& check : *engine.checks) {
      if (engine.publisher->stopped()) return;
      tick_one(engine, &check, local);
    }
  }
  engine.queue->check_timeouts();
  level_reads_expire(engine);
  holds_settle(engine);
  restart_write(engine);
}
