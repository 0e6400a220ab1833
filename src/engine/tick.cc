// The tick: disable windows, the end of Timeout and the due actions of
// every reference, every five seconds.
#include "engine/tick.h"

#include <ctime>

#include "actions/queue.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/daemon_status.h"
#include "core/guard.h"
#include "engine/state.h"

namespace {

int64_t now(const ArCheck* check) { return check->conf.ar->daemon->clock->monotonic_seconds(); }

void arm(DaemonContext* ctx) {
  ctx->tick_event.add_after(kTickSeconds);
}

void tick_one(ArCheck* check, const tm& local) {
  const AutoResponse* ar = check->conf.ar;
  if (ar->schedule_enabled) {
    const DisableWindow& window = ar->disable[local.tm_wday];
    if (disable_window_contains(window, local.tm_hour, local.tm_min)) {
      if (check->state != kArDisabled) ar_disable(check);
      return;
    }
    if (check->state == kArDisabled) ar_normal(check);
  }
  switch (check->state) {
    case kArTriggered:
      ar_queue_trigger_actions(check);
      break;
    case kArResolving:
      ar_queue_resolve_actions(check);
      break;
    case kArTimeout:
      if (now(check) > check->state_time + static_cast<int64_t>(ar->reset_timeout)) ar_normal(check);
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

void tick_start(DaemonContext* ctx) {
  ctx->tick_event.set(-1, 0, ar_tick, ctx);
  arm(ctx);
}

void ar_tick(int /*fd*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    // localtime_r reads the zone once per process; tzset looks again, so
    // a zone the administrator changed rules the windows from this tick on.
    tzset();
    const time_t wall = ctx->clock->wall_seconds();
    tm local{};
    localtime_r(&wall, &local);
    for (ArCheck& check : ctx->checks) {
      if (ctx->exit_status >= 0) return;
      tick_one(&check, local);
    }
    action_check_timeouts(ctx);
    status_publish_tick(ctx);
  });
  arm(ctx);
}
