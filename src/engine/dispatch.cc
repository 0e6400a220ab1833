// Dispatch of complete infod messages: control commands, and updates
// handed to their ArChecks.
#include "engine/dispatch.h"

#include <cstring>
#include <new>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"
#include "engine/control.h"
#include "engine/router.h"
#include "engine/state.h"

int check_append_event(ArCheck* check, const char* key, int32_t number, uint64_t time_ms, const char* value) {
  // Resolving, Timeout and Disabled references take nothing.
  if (check->state != kArNormal && check->state != kArTriggered) return 0;
  CheckEventPtr event;
  try {
    event = std::make_unique<CheckEvent>();
    event->key = key;
    event->number = number;
    event->time_ms = time_ms;
    event->value = value;
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocate entry");
    return -1;
  }
  const CheckOutcome outcome = check->conf.ops->on_event(check, *event);
  return ar_apply(check, outcome, std::move(event));
}

int dispatch_message(void* owner, char* body) {
  auto* ctx = static_cast<DaemonContext*>(owner);
  UpdateFields f;
  if (link_split_fields(body, &f) == 0) return 0;
  if (f.type != kInfodUpdate) return 0;
  if (f.key == nullptr || f.value == nullptr) {
    ar_log(kLogError, "Invalid message from infod");
    return 0;
  }
  if (ctx->control_key != nullptr && strcmp(f.key, ctx->control_key) == 0) {
    return control_handle(ctx, f.value);
  }
  const std::vector<ArCheck*>& takers = route_lookup(ctx, f.key);
  if (takers.empty()) {
    // After a reload infod still delivers updates of keys just
    // unsubscribed; nothing wants them any more.
    ar_log(kLogDebug, "No subscription for update: %s", f.key);
    return 0;
  }
  for (ArCheck* check : takers) {
    const int result = check_append_event(check, f.key, f.number, f.time_ms, f.value);
    if (result != 0) {
      ar_log(kLogFatal, "error appending entry to ar: %s", f.key);
      return result;
    }
  }
  return 0;
}
