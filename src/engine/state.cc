// State changes of ArChecks and their publication.
#include "engine/state.h"

#include <string>

#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"
#include "core/log_line.h"
#include "engine/tick.h"

namespace {

int64_t now(const ArCheck* check) { return check->ar->daemon->clock->monotonic_seconds(); }

// Pushes the state name, the current value (when event is given) and the
// log line. False when the reference key could not be made: nothing is
// published and the caller queues no actions.
bool publish(ArCheck* check, const CheckEvent* event) {
  const AutoResponse* ar = check->ar;
  DaemonContext* ctx = ar->daemon;
  const char* state = ar_state_name(check->state);
  LogLine line;
  if (event != nullptr) {
    line = format_log_line("AR: name=%s, index=%u, ref=%u, state=%s, event=%s, value=%s", ar->name.c_str(),
                           ar->index, check->ref_index, state, event->key.c_str(), event->value.c_str());
  } else {
    line = format_log_line("AR: name=%s, index=%u, ref=%u, state=%s", ar->name.c_str(), ar->index,
                           check->ref_index, state);
  }
  std::string reference;
  try {
    reference = ar->path + ".refs.ref" + std::to_string(check->ref_index);
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Failed to allocate reference");
    return false;
  }
  link_push_status(ctx, reference.c_str(), state);
  if (event != nullptr) link_push_status(ctx, check->curr_entry_key.c_str(), event->value.c_str());
  link_push(ctx, kLogKey, line.text);
  return true;
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

void ar_trigger(ArCheck* check, CheckEventPtr event) {
  check->state = kArTriggered;
  check->state_time = now(check);
  check->current_event = std::move(event);
  if (publish(check, check->current_event.get())) ar_queue_trigger_actions(check);
}

void ar_resolve(ArCheck* check, CheckEventPtr event) {
  check->state = kArResolving;
  check->state_time = now(check);
  check->current_event = std::move(event);
  if (publish(check, check->current_event.get())) ar_queue_resolve_actions(check);
}

int ar_refresh(ArCheck* check, CheckEventPtr event) {
  check->current_event = std::move(event);
  return link_push_status(check->ar->daemon, check->curr_entry_key.c_str(), check->current_event->value.c_str());
}

void ar_timeout(ArCheck* check) {
  check->state = kArTimeout;
  check->current_event.reset();
  check->state_time = now(check);
  publish(check, nullptr);
}

void ar_normal(ArCheck* check) {
  check->current_event.reset();
  for (ActionEntry& entry : check->trigger_actions) entry.status = kActionPending;
  for (ActionEntry& entry : check->resolve_actions) entry.status = kActionPending;
  check->state = kArNormal;
  check->state_time = now(check);
  publish(check, nullptr);
}

void ar_disable(ArCheck* check) {
  check->state = kArDisabled;
  check->current_event.reset();
  check->state_time = now(check);
  publish(check, nullptr);
}
