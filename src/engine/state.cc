// State changes of ArChecks, their publication, and the action-queueing
// steps of the Triggered and Resolving states.
#include "engine/state.h"

#include <algorithm>
#include <new>
#include <string>

#include "config/action.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"
#include "core/log_line.h"

namespace {

constexpr char kCurrEntry[] = ".curr_entry";

int64_t now(const ArCheck* check) { return check->conf.ar->daemon->clock->monotonic_seconds(); }

// Pushes the state name, the current value (when event is given) and the
// log line. False when the reference key could not be made: nothing is
// published and the caller queues no actions.
bool publish(ArCheck* check, const CheckEvent* event) {
  const AutoResponse* ar = check->conf.ar;
  DaemonContext* ctx = ar->daemon;
  const char* state = ar_state_name(check->state);
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
  link_push_status(&ctx->link, reference.c_str(), state);
  if (event != nullptr) {
    // The key of the current value is the reference's with ".curr_entry".
    // Without memory for it the push is lost, as link_push_status loses one
    // it cannot allocate.
    try {
      reference += kCurrEntry;
      link_push_status(&ctx->link, reference.c_str(), event->value.c_str());
    } catch (const std::bad_alloc&) {
    }
  }
  link_push(&ctx->link, kLogKey, line.text);
  return true;
}

// The first of count statuses still Pending; count when there is none.
size_t first_pending(const ActionStatus* statuses, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (statuses[i] == kActionPending) return i;
  }
  return count;
}

// Hands one entry to its queue operation and reports what did not queue.
void offer(ArCheck* check, const Action& action, ActionStatus* status, const char* format) {
  DaemonContext* ctx = check->conf.ar->daemon;
  const char* action_name = action.name.c_str();
  const char* ar_name = check->conf.ar->name.c_str();
  const LogLine queuing = format_log_line(format, action_name, ar_name, ctx->queued_actions);
  link_push(&ctx->link, kLogKey, queuing.text);
  const int result = action.queue(check, action, status);
  if (result != 0) {
    const LogLine outcome = format_log_line(
        result == 1 ? "Action %s for AR %s, skipped" : "Action %s for AR %s, queuing failed", action_name, ar_name);
    link_push(&ctx->link, kLogKey, outcome.text);
    *status = kActionDropped;
  } else if (*status == kActionPending) {
    // An operation that reports success must move the action on; one that
    // does not would be offered again without end.
    *status = kActionDropped;
  }
}

void finish(ArCheck* check) {
  if (check->conf.ar->reset_timeout > 0) {
    ar_timeout(check);
  } else {
    ar_normal(check);
  }
}

}  // namespace

const char* ar_state_name(int state) {
  switch (state) {
    case kArNormal: return "Normal";
    case kArTriggered: return "Triggered";
    case kArResolving: return "Resolving";
    case kArTimeout: return "Timeout";
    case kArDisabled: return "Disabled";
    default: return "Unknown";
  }
}

int ar_apply(ArCheck* check, const CheckOutcome& outcome, CheckEventPtr event) {
  if (outcome.reading) check->unreadable_reported = false;
  switch (outcome.kind) {
    case CheckOutcomeKind::kDrop:
      return 0;
    case CheckOutcomeKind::kNotReading:
      // A sensor that has dropped out reports the same text for hours.
      if (!check->unreadable_reported) ar_log(kLogWarn, "%s", outcome.reason.c_str());
      check->unreadable_reported = true;
      return 0;
    case CheckOutcomeKind::kRefresh:
      return ar_refresh(check, std::move(event));
    case CheckOutcomeKind::kTrigger: {
      if (!outcome.reason.empty()) ar_log(kLogInfo, "%s", outcome.reason.c_str());
      // The hook gets the key even when the trigger ended at once and the
      // event went with it.
      const std::string key = check->conf.ops->on_triggered != nullptr ? event->key : std::string();
      ar_trigger(check, std::move(event));
      if (check->conf.ops->on_triggered != nullptr) check->conf.ops->on_triggered(&check->conf.ar->daemon->link, key);
      return 0;
    }
    case CheckOutcomeKind::kResolve:
      if (!outcome.reason.empty()) ar_log(kLogInfo, "%s", outcome.reason.c_str());
      ar_resolve(check, std::move(event));
      return 0;
  }
  return 0;
}

void ar_trigger(ArCheck* check, CheckEventPtr event) {
  check->state = kArTriggered;
  check->state_time = now(check);
  check->current_event = std::move(event);
  if (publish(check, check->current_event.get())) ar_queue_trigger_actions(check);
}

void ar_drop_delayed(const ArCheck* check, const char* why) {
  if (check->state != kArTriggered) return;
  const ActionList& actions = check->conf.ar->trigger_actions;
  const ActionStatus* statuses = check->statuses.data();
  for (size_t i = 0; i < actions.size(); ++i) {
    if (statuses[i] != kActionPending) continue;
    ar_log(kLogInfo, "Delayed action %s for AR %s dropped: %s", actions[i].name.c_str(), check->conf.ar->name.c_str(),
           why);
  }
}

void ar_resolve(ArCheck* check, CheckEventPtr event) {
  ar_drop_delayed(check, "its reference resolved");
  check->state = kArResolving;
  check->state_time = now(check);
  check->current_event = std::move(event);
  if (publish(check, check->current_event.get())) ar_queue_resolve_actions(check);
}

int ar_refresh(ArCheck* check, CheckEventPtr event) {
  check->current_event = std::move(event);
  std::string key;
  try {
    key = archeck_key(*check, kCurrEntry);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return link_push_status(&check->conf.ar->daemon->link, key.c_str(), check->current_event->value.c_str());
}

void ar_timeout(ArCheck* check) {
  check->state = kArTimeout;
  check->current_event.reset();
  check->state_time = now(check);
  publish(check, nullptr);
}

void ar_normal(ArCheck* check) {
  check->current_event.reset();
  std::fill_n(check->statuses.data(), check->trigger_count() + check->resolve_count(), kActionPending);
  check->state = kArNormal;
  check->state_time = now(check);
  publish(check, nullptr);
}

void ar_disable(ArCheck* check) {
  ar_drop_delayed(check, "its rule was disabled");
  check->state = kArDisabled;
  check->current_event.reset();
  check->state_time = now(check);
  publish(check, nullptr);
}

void ar_queue_trigger_actions(ArCheck* check) {
  const AutoResponse* ar = check->conf.ar;
  const ActionList& actions = ar->trigger_actions;
  ActionStatus* statuses = check->trigger_status();
  bool repeated = false;
  while (true) {
    const size_t i = first_pending(statuses, actions.size());
    if (i < actions.size()) {
      if (now(check) < check->state_time + static_cast<int64_t>(actions[i].delay_time)) return;
      offer(check, actions[i], &statuses[i], "Queuing triggered action: %s for AR: %s - %d actions in the queue");
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
    std::fill_n(statuses, actions.size(), kActionPending);
    check->state_time = now(check);
  }
}

void ar_queue_resolve_actions(ArCheck* check) {
  const ActionList& actions = check->conf.ar->resolve_actions;
  ActionStatus* statuses = check->resolve_status();
  for (size_t i; (i = first_pending(statuses, actions.size())) < actions.size();) {
    offer(check, actions[i], &statuses[i], "Queuing resolve action: %s for AR: %s - %d actions in the queue");
  }
  finish(check);
}
