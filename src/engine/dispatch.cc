// Updates handed to the ArChecks that take them, and a load's references
// taken in and let go.
#include "engine/dispatch.h"

#include <cstring>
#include <new>

#include "actions/queue.h"
#include "base/log.h"
#include "checks/check_type.h"
#include "config/loader.h"
#include "engine/control.h"
#include "engine/engine.h"
#include "engine/router.h"
#include "engine/state.h"
#include "model/archeck.h"
#include "model/publisher.h"

int check_append_event(Engine& engine, ArCheck* check, const char* key, int32_t number, uint64_t time_ms, const char* value) {
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
  return ar_apply(engine, check, outcome, std::move(event));
}

int engine_deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value) {
  if (strcmp(key, kControlTable.key) == 0) return control_handle(engine, value);
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

namespace {

// Makes checks the engine's references: the queue's entries and the
// routing index follow them, and each one in order is subscribed and moved
// to Normal.
void adopt(Engine& engine, std::deque<ArCheck>* checks) {
  engine.checks = checks;
  engine.queue->attach(checks);
  route_index_build(engine.routes, *checks);
  for (ArCheck& check : *checks) {
    ar_log(kLogInfo, "Adding subscription: %s", check.conf.subscription.c_str());
    if (engine.publisher->subscribe(check.conf.subscription.c_str()) != 0) ar_log(kLogFatal, "Error adding subscription");
    ar_normal(engine, &check);
  }
}

}  // namespace

void engine_release(Engine& engine) {
  route_index_clear(engine.routes);
  if (engine.checks != nullptr) {
    for (const ArCheck& check : *engine.checks) engine.publisher->unsubscribe(check.conf.subscription.c_str());
  }
  engine.checks = nullptr;
  engine.queue->attach(nullptr);
}

void engine_drop_delayed_for_reload(const Engine& engine) {
  if (engine.checks == nullptr) return;
  for (const ArCheck& check : *engine.checks) ar_drop_delayed(&check, "the configuration was reloaded");
}

void engine_load(Engine& engine, std::unique_ptr<LoadedConfig>* running, xmldb_t* db) {
  engine_release(engine);
  running->reset();
  *running = config_load(db);
  LoadedConfig& config = **running;
  adopt(engine, &config.checks);
  if (config.concurrent_actions > 0) engine.queue->concurrent_actions = config.concurrent_actions;
  // Unlike the limit above, a time-out taken out of the file is gone.
  engine.queue->action_timeout = config.action_timeout;
  // A raised limit has room for what waits now, not only after the next
  // child ends or the next action is queued.
  engine.queue->start_waiting();
}
