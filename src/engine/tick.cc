// The tick and the action-queueing steps.
#include "engine/tick.h"

#include <ctime>

#include "actions/queue.h"
#include "config/action.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/guard.h"
#include "core/link.h"
#include "core/log_line.h"
#include "engine/state.h"

namespace {

int64_t now(const ArCheck* check) { return check->ar->daemon->clock->monotonic_seconds(); }

ActionEntry* first_pending(std::vector<ActionEntry>& entries) {
  for (ActionEntry& entry : entries) {
    if (entry.status == kActionPending) return &entry;
  }
  return nullptr;
}

// Hands one entry to its queue operation and reports what did not queue.
void offer(ArCheck* check, ActionEntry* entry, const char* format) {
  DaemonContext* ctx = check->ar->daemon;
  const char* action_name = entry->action->name.c_str();
  const char* ar_name = check->ar->name.c_str();
  const LogLine queuing = format_log_line(format, action_name, ar_name, ctx->queued_actions);
  link_push(ctx, kLogKey, queuing.text);
  const int result = entry->action->queue(check, entry);
  if (result != 0) {
    const LogLine outcome = format_log_line(
        result == 1 ? "Action %s for AR %s, skipped" : "Action %s for AR %s, queuing failed", action_name, ar_name);
    link_push(ctx, kLogKey, outcome.text);
    entry->status = kActionDropped;
  } else if (entry->status == kActionPending) {
    // An operation that reports success must move the entry on; one that
    // does not would be offered again without end.
    entry->status = kActionDropped;
  }
}

void finish(ArCheck* check) {
  if (check->ar->reset_timeout > 0) {
    ar_timeout(check);
  } else {
    ar_normal(check);
  }
}

void arm(DaemonContext* ctx) {
  ctx->tick_event.add_after(kTickSeconds);
}

void tick_one(ArCheck* check, const tm& local) {
  const AutoResponse* ar = check->ar;
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
  run_guarded(ctx, [ctx] {
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
  });
  arm(ctx);
}

void ar_queue_trigger_actions(ArCheck* check) {
  const AutoResponse* ar = check->ar;
  bool repeated = false;
  while (true) {
    ActionEntry* entry = first_pending(check->trigger_actions);
    if (entry != nullptr) {
      if (now(check) < check->state_time + static_cast<int64_t>(entry->delay_time)) return;
      offer(check, entry, "Queuing triggered action: %s for AR: %s - %d actions in the queue");
      continue;
    }
    if (!ar->has_resolve) {
      finish(check);
      return;
    }
    // A repeat at most once per call: with a repeat time-out of 0 the
    // actions would otherwise be queued again without end.
    if (!ar->repeat_trigger || repeated) return;
    if (now(check) < check->state_time + static_cast<int64_t>(ar->repeat_timeout)) return;
    repeated = true;
    for (ActionEntry& e : check->trigger_actions) e.status = kActionPending;
    check->state_time = now(check);
  }
}

void ar_queue_resolve_actions(ArCheck* check) {
  while (ActionEntry* entry = first_pending(check->resolve_actions)) {
    offer(check, entry, "Queuing resolve action: %s for AR: %s - %d actions in the queue");
  }
  finish(check);
}
