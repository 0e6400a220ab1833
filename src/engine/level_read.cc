// Reads of levels' current values, a bounded number at a time.
#include "engine/level_read.h"

#include <algorithm>
#include <cstring>

#include "base/clock.h"
#include "engine/deliver.h"
#include "engine/engine.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/check_kind.h"
#include "model/publisher.h"

namespace {

// The reference a read was asked for, while the load in force still has it.
ArCheck* reader(Engine& engine, const LevelRead& read) {
  if (engine.checks == nullptr || read.seq >= engine.checks->size()) return nullptr;
  ArCheck& check = (*engine.checks)[read.seq];
  return check.id == read.id ? &check : nullptr;
}

}  // namespace

bool reference_is_level(const ArCheck& check) {
  const AutoResponse* ar = check.conf.ar;
  return ar != nullptr && ar->kind != nullptr && ar->kind->level && ar->has_resolve;
}

void level_read_ask(Engine& engine, ArCheck* check) {
  if (!reference_is_level(*check)) return;
  check->awaiting_read = true;
  engine.reads_waiting.push_back({check->seq, check->id, 0});
}

void level_reads_send(Engine& engine) {
  while (engine.reads_out.size() < kMaxLevelReads && !engine.reads_waiting.empty()) {
    LevelRead read = engine.reads_waiting.front();
    engine.reads_waiting.pop_front();
    ArCheck* check = reader(engine, read);
    if (check == nullptr || !check->awaiting_read) continue;  // gone, or an update came first
    // One get for every reference of a key: its reply answers them all.
    const bool asked = std::any_of(engine.reads_out.begin(), engine.reads_out.end(), [&](const LevelRead& r) {
      const ArCheck* other = reader(engine, r);
      return other != nullptr && other->conf.subscription == check->conf.subscription;
    });
    if (!asked && engine.publisher->get(check->conf.subscription.c_str()) != 0) {
      check->awaiting_read = false;
      continue;
    }
    read.sent_ms = engine.clock->monotonic_ms();
    engine.reads_out.push_back(read);
  }
}

int level_read_reply(Engine& engine, const char* key, const char* value) {
  // Several references may listen to one key; each asked once.
  std::vector<ArCheck*> asked;
  auto& out = engine.reads_out;
  for (auto it = out.begin(); it != out.end();) {
    ArCheck* check = reader(engine, *it);
    if (check == nullptr) {
      it = out.erase(it);  // a load let it go
    } else if (check->conf.subscription == key) {
      asked.push_back(check);
      it = out.erase(it);
    } else {
      ++it;
    }
  }
  const int64_t now = engine.clock->wall_ms();
  for (ArCheck* check : asked) {
    if (!check->awaiting_read) continue;  // the update that came meanwhile is newer
    check->awaiting_read = false;
    if (value == nullptr) continue;
    const int result = check_append_event(engine, check, key, 0, static_cast<uint64_t>(now), value);
    if (result != 0) return result;
  }
  level_reads_send(engine);
  return 0;
}

void level_reads_expire(Engine& engine) {
  const int64_t now = engine.clock->monotonic_ms();
  auto& out = engine.reads_out;
  const auto unanswered = [&](const LevelRead& read) {
    if (now - read.sent_ms < kLevelReadWaitMs) return false;
    if (ArCheck* check = reader(engine, read)) check->awaiting_read = false;
    return true;
  };
  out.erase(std::remove_if(out.begin(), out.end(), unanswered), out.end());
  level_reads_send(engine);
}
