// Updates handed to the ArChecks that take them.
#include "engine/deliver.h"

#include <cstring>
#include <memory>
#include <new>

#include "base/log.h"
#include "engine/control.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/level_read.h"
#include "engine/restart.h"
#include "engine/router.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/check_event.h"

int check_append_event(Engine& engine, ArCheck* check, const char* key, int32_t number, uint64_t time_ms, const char* value) {
  check->awaiting_read = false;
  check->latest_unshown = true;
  // Resolving, Timeout and Disabled references take nothing; a level's
  // keeps it, as its latest value.
  const bool takes = check->state == kArNormal || check->state == kArTriggered;
  if (!takes && !reference_is_level(*check)) return 0;
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
  if (!takes) {
    check->last = std::move(event);
    return 0;
  }
  const CheckOutcome outcome = check->conf.ops->on_event(check, *event);
  return reference_apply(engine, check, outcome, std::move(event));
}

namespace {

int deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value) {
  if (strcmp(key, kControlKey) == 0) return control_handle(engine, value);
  const std::vector<ArCheck*>& takers = route_lookup(engine.routes, key);
  if (takers.empty()) {
    // After a reload infod still delivers updates of keys just
    // unsubscribed; nothing wants them any more.
    ar_log(kLogDebug, "No subscription for update: %s", key);
    return 0;
  }
  for (ArCheck* check : takers) {
    const int result = check_append_event(engine, check, key, number, time_ms, value);
    if (result != 0) {
      ar_log(kLogFatal, "error appending entry to ar: %s", key);
      return result;
    }
  }
  return 0;
}

}  // namespace

int engine_deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value) {
  const int result = deliver(engine, key, number, time_ms, value);
  holds_settle(engine);
  restart_write(engine);
  return result;
}

int engine_reply(Engine& engine, const char* key, const char* value) {
  const int result = level_read_reply(engine, key, value);
  holds_settle(engine);
  restart_write(engine);
  return result;
}
