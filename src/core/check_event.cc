// Queuing an update on one ArCheck.
#include "core/check_event.h"

#include <new>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "core/log.h"

int check_append_event(ArCheck* check, const char* key, int32_t field3, uint64_t field4, const char* value) {
  // Resolving, Timeout and Disabled references take nothing.
  if (check->state != kArNormal && check->state != kArTriggered) return 0;
  try {
    auto event = std::make_unique<CheckEvent>();
    event->key = key;
    event->field3 = field3;
    event->field4 = field4;
    event->value = value;
    check->pending.push_back(std::move(event));
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocate entry");
    return -1;
  }
  return check->ops->on_event(check);
}

CheckEventPtr check_take_event(ArCheck* check) {
  if (check->pending.empty()) return nullptr;
  CheckEventPtr event = std::move(check->pending.front());
  check->pending.erase(check->pending.begin());
  return event;
}
