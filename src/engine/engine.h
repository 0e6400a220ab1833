// The engine: what the state machine, the tick, the routing and the control
// commands work with, handed to them by whoever runs them (the daemon, or
// `arctl test` under a simulated clock). It owns nothing of the process.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/router.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

class ActionQueue;
class Clock;
class RecordStore;
struct ActionEnv;
class Publisher;

// The trigger counters kept in infod. Reading one is a synchronous get,
// which only the daemon's own connection can make.
class TriggerCounter {
 public:
  virtual ~TriggerCounter() = default;
  // The count stored under key: 0 with *stored (nullopt when infod has
  // none), -1 when it could not be read, -2 when the connection cannot
  // take the request (the reason, if any, is logged here).
  virtual int fetch(const std::string& key, std::optional<std::string>* stored) = 0;
  virtual void save(const std::string& key, const std::string& text) = 0;
};

// A silence of a rule's references (ref 0: every one) until a time on the
// monotonic clock: they are evaluated as usual, but no action of the rule
// is queued (engine/silence.h).
struct Silence {
  uint32_t ref = 0;
  int64_t until_ms = 0;
  std::string origin;
  std::string reason;
};

// A read of a level's current value (engine/level_read.h): its
// reference's place and identity, and when it was sent.
struct LevelRead {
  uint32_t seq = 0;
  uint32_t id = 0;
  int64_t sent_ms = 0;
};

struct Engine {
  Publisher* publisher = nullptr;
  ActionQueue* queue = nullptr;
  const ActionEnv* actions = nullptr;  // what the action kinds' queue operations work with
  Clock* clock = nullptr;
  TriggerCounter* counter = nullptr;
  // The current load's rules, in the order of their numbers, and their
  // references, in load order; null before the first.
  RuleList* rules = nullptr;
  ArCheckList* checks = nullptr;
  // Of those rules, the ones others hold while, and the ones that hold
  // while others (engine/hold.h): few, and looked at after every piece of
  // work.
  std::vector<AutoResponse*> holding_rules;
  std::vector<AutoResponse*> held_rules;
  RouteIndex routes;
  // The identity the next new reference takes.
  uint32_t next_check_id = 1;
  // Where each rule's state is kept for a restart (engine/restart.h), null
  // for nowhere, and what that needs: the boot the monotonic clock counts
  // in ("-" when unknown), the load's config.cms fingerprint, the
  // references touched since the last write and a hash of what the store
  // holds of each rule, by rule number (none: no record).
  RecordStore* records = nullptr;
  std::string boot_id = "-";
  uint64_t cms_fingerprint = 0;
  std::vector<ArCheck*> restart_dirty;
  std::unordered_map<uint32_t, uint64_t> recorded;
  // The silences by rule path, at most one per reference (a silence of
  // every reference counts as one on each). They belong to the path, not
  // to the load: a reload that builds the rule again keeps them. Looked
  // up by a rule's formed path without making a string of it.
  std::map<std::string, std::vector<Silence>, std::less<>> silences;
  // Reads of levels still to send, and those waiting for their replies.
  std::deque<LevelRead> reads_waiting;
  std::vector<LevelRead> reads_out;
};

// Adds one to the counter under counter_key: the count runs 1 to
// 2147483647 and starts again at 1; a stored count that cannot be read is
// left alone ("Could not read %s"). 0, or -1 when it was left alone.
int count_trigger(Engine& engine, const std::string& counter_key);
