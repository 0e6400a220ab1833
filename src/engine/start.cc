// The daemon's start: the first load, taking up what the last process kept.
#include "engine/start.h"

#include <memory>
#include <vector>

#include "actions/queue.h"
#include "config/loader.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/load.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// At start, before any reference is adopted: each new one whose rule's
// restart record holds it takes up its state; resumed[seq] says which.
std::vector<uint8_t> take_up(Engine& engine, LoadedConfig& config, const RestartState& records) {
  std::vector<uint8_t> taken(config.checks.size(), kTakenFresh);
  for (ArCheck& check : config.checks) {
    if (check.state != kArNone) continue;
    const auto record = records.rules.find(check.conf.ar->index);
    if (record != records.rules.end() && restart_resume(engine, &check, record->second)) taken[check.seq] = kTakenResumed;
  }
  return taken;
}

}  // namespace

void engine_start(Engine& engine, std::unique_ptr<LoadedConfig>* running, std::unique_ptr<LoadedConfig> loaded) {
  engine_release(engine);
  *running = std::move(loaded);
  LoadedConfig& config = **running;
  // The limits first: what is queued again starts under them.
  load_take_limits(engine, config);
  load_attach(engine, config);
  const RestartState records = restart_read(engine);
  // Before the references resume: what fell due meanwhile is not queued
  // while they were silenced.
  silences_take_up(engine, config.checks, records);
  const std::vector<uint8_t> taken = take_up(engine, config, records);
  std::vector<bool> resumed(taken.size());
  for (size_t i = 0; i < taken.size(); ++i) resumed[i] = taken[i] == kTakenResumed;
  restart_requeue(engine, records, resumed);
  load_adopt(engine, config, &taken);
  silences_expire(engine);
  restart_forget_other_rules(engine, config.rules, records.rules);
  engine.queue->start_waiting();
  holds_settle(engine, true);  // judged again from the states of the rules they name
  restart_write(engine);
}
