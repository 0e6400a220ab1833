// ArCheck: the runtime object of one AutoResponse and one device reference.
// What was loaded for it (ArCheckConf) stays as it is until the next reload;
// the rest is what happens to it at run time. Created by the loader,
// released with its load.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <memory_resource>
#include <string>
#include <vector>

#include "model/check_event.h"

struct Action;
struct AutoResponse;
struct CheckOps;

// Two bytes: a reference's record is kept small, and a wider type would
// cost every reference its padding.
enum ArCheckState : int16_t {
  kArNone = 0,  // created, not yet moved to Normal
  kArNormal = 1,
  kArTriggered = 2,
  kArResolving = 3,
  kArTimeout = 4,
  kArDisabled = 5,
};

enum ActionStatus : uint8_t {
  kActionNew = 0,
  kActionPending = 1,
  kActionQueued = 2,
  kActionDropped = 3,
  // Fell due while a silence covered its reference: not queued, and
  // settled when the silence ends (engine/silence.h).
  kActionHeld = 4,
};

// The status of each of the rule's actions as one reference runs them,
// trigger list first. The counts are the rule's, whose action lists do not
// change once it has ArChecks. A few fit inline; more take one allocation.
class ActionStatuses {
 public:
  // Room for count statuses, each one New.
  void reset(size_t count);
  ActionStatus* data() { return heap_ ? heap_.get() : inline_; }
  const ActionStatus* data() const { return heap_ ? heap_.get() : inline_; }

 private:
  // As many as fit beside the pointer in 16 bytes on 64-bit.
  static constexpr size_t kInline = 8;
  std::unique_ptr<ActionStatus[]> heap_;
  ActionStatus inline_[kInline] = {};
};

// The monotonic milliseconds of a reference's latest reports towards its
// rule's burst, oldest first: a ring of at most capacity times, made at the
// first report.
class BurstTimes {
 public:
  explicit BurstTimes(size_t capacity) : times_(capacity) {}
  // Lets go of the reports more than window_ms before now, counts one at
  // now (in place of the oldest when the ring is full) and returns how many
  // are counted.
  size_t count(int64_t now, int64_t window_ms);
  // How many of them lie within window_ms before now, and the oldest of
  // those (0 for none), without counting one.
  size_t counted(int64_t now, int64_t window_ms, int64_t* oldest) const;

 private:
  std::vector<int64_t> times_;
  size_t first_ = 0;
  size_t size_ = 0;
};

// What a silence holds back of one reference beyond its trigger actions'
// statuses: the resolve actions of an incident whose trigger actions had
// run, and the update they fell due for. They run when the silence ends
// with the reference no longer Triggered.
struct HeldResolve {
  std::vector<uint32_t> actions;  // places in the resolve list
  CheckEvent event;
};

struct ArCheckConf {
  AutoResponse* ar = nullptr;  // not owned
  const CheckOps* ops = nullptr;
  std::string subscription;  // the key text that routes updates here
  uint32_t ref_index = 0;
};

struct ArCheck {
  ArCheckConf conf;
  int64_t state_time = 0;  // monotonic milliseconds of the last state change
  CheckEventPtr current_event;
  // The latest update of its key when current_event does not hold it (a
  // level's reference in Normal, Timeout or Disabled), judged again when
  // the reference comes back without an update; null otherwise.
  CheckEventPtr last;
  // One per action of conf.ar->trigger_actions, then of resolve_actions.
  ActionStatuses statuses;
  uint32_t seq = 0;  // position in the context's checks, for routing order
  // The reference's identity from its first adoption on, kept by a reload
  // that keeps it; never 0 once adopted, never reused by another.
  uint32_t id = 0;
  // Bumped by every re-arming of statuses to Pending: an action queued in
  // an earlier cycle no longer owns its status.
  uint32_t cycle = 0;
  ArCheckState state = kArNone;
  // An update without a reading has been reported; the next one is not,
  // until a reading comes again.
  bool unreadable_reported : 1 = false;
  // Its key's value has been asked of infod and no update came since.
  bool awaiting_read : 1 = false;
  // Its Timeout began with a cancel: its end waits for the next update.
  bool cancelled : 1 = false;
  // A trigger action of the current trigger was queued (not held back).
  bool trigger_ran : 1 = false;
  // An update came since the daemon's status last showed its latest value.
  bool latest_unshown : 1 = false;
  // The reports counted towards the rule's burst since its last trigger;
  // null for none (and for a rule without a burst).
  std::unique_ptr<BurstTimes> burst;
  // The resolve actions a silence holds back; null for none.
  std::unique_ptr<HeldResolve> held_resolve;

  // The statuses of the trigger and of the resolve actions, and their counts.
  ActionStatus* trigger_status() { return statuses.data(); }
  ActionStatus* resolve_status() { return statuses.data() + trigger_count(); }
  size_t trigger_count() const;
  size_t resolve_count() const;
};

// A load's references, in rule order; appended to only, like its rules.
using ArCheckList = std::pmr::deque<ArCheck>;

// The key under which a reference publishes (model/ref_key.h), followed
// by suffix (kCurrEntry, or nothing).
std::string archeck_key(const ArCheck& check, const char* suffix);
