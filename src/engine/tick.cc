// The tick: disable windows, the end of Timeout and the due actions of
// every reference, every five seconds.
#include "engine/tick.h"

#include <ctime>

#include "actions/queue.h"
#include "base/clock.h"
#include "engine/engine.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

namespace {


void tick_one(Engine& engine, ArCheck* check, const tm& local) {
  const AutoResponse* ar = check->conf.ar;
  if (ar->schedule_enabled) {
    if (disable_window_open(*ar, local)) {
      if (check->state != kArDisabled) ar_disable(engine, check);
      return;
    }
    if (check->state == kArDisabled) ar_normal(engine, check);
  }
  switch (check->state) {
    case kArTriggered:
      ar_queue_trigger_actions(engine, check);
      break;
    case kArResolving:
      ar_queue_resolve_actions(engine, check);
      break;
    case kArTimeout:
      if (engine.clock->monotonic_ms() > check->state_time + static_cast<int64_t>(ar->reset_timeout) * 1000) {
        ar_normal(engine, check);
      }
      break;
    default:
      break;
  }
}

}  // namespace

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
  if (engine.checks != nullptr) {
    for (ArCheck& check : *engine.checks) {
      if (engine.publisher->stopped()) return;
      tick_one(engine, &check, local);
    }
  }
  engine.queue->check_timeouts();
}
