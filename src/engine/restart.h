// What the engine keeps of each rule so that a restart resumes it instead
// of starting it afresh, and takes up at start. The restart record
// (engine/restart_record.h) of a rule whose references changed anything
// but their current value is written to the engine's RecordStore when the
// work that changed it ends, and before any of its actions is queued; a
// rule that a fresh start would start just as it stands (every reference
// Normal, no silence) has none. Each written record is also shown in
// infod, for `arctl status`; the engine never reads that back.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "actions/queue_record.h"
#include "engine/restart_record.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

struct Engine;

// The most a shown record may hold: it travels as a push, whose frame
// infod takes up to a mebibyte, with room for the key and the other fields.
constexpr size_t kMaxShownText = 1024 * 1024 - 4096;

// What the last process kept, read back at start: the rules' records by
// rule number, and each queued action's by its order, with whether it had
// started. A record that is not one is logged and left out.
struct RestartState {
  std::map<uint32_t, RestartRule> rules;
  struct Queued {
    QueueRecord record;
    bool started = false;
  };
  std::map<uint64_t, Queued> actions;
};

// Reads what engine.records holds; nothing when it is null.
RestartState restart_read(Engine& engine);

// The fingerprint a rule's records carry: the rule's element, config.cms
// and the keys of its references, so that a record is taken up only by the
// very rule it was written for.
uint64_t restart_fingerprint(const Engine& engine, const ArCheck& any_check_of_rule);
// The same from a load alone: the rule of checks[at], whose references lie
// together in checks, under config.cms of that fingerprint. What arctl
// compares with the fingerprints the daemon shows to tell which rules a
// reload would leave as they run.
uint64_t restart_fingerprint_of(const ArCheckList& checks, uint64_t cms_fingerprint, size_t at);

// Notes that a reference changed something its rule's record holds; the
// record is written by restart_write.
void restart_touch(Engine& engine, ArCheck* check);

// Writes the record of check's rule now if it is touched: before an action
// of the rule is queued, so that a restart finds the state it was queued in.
void restart_write_rule(Engine& engine, ArCheck* check);

// Writes the record of every rule touched since the last call and shows it
// in infod (a record too large is logged and kept by no one: that rule
// starts afresh after a restart). Called as each piece of the engine's
// work ends.
void restart_write(Engine& engine);

// The record of the rule check belongs to, as it stands: times on the
// monotonic clock, or in wall time for the form shown in infod.
RestartRule restart_record_of(Engine& engine, const ArCheck& any_check_of_rule, bool shown);

// Takes up the rule's record for check when it was written for this very
// rule, holds this reference and gives it a state the rule can be in now:
// its state, statuses, cycle, update and the time it entered its state.
// False (check untouched) otherwise; a reference the record holds in a
// state it cannot be in is logged.
bool restart_resume(Engine& engine, ArCheck* check, const RestartRule& record);

// A time of a record written with clock, on the engine's monotonic clock
// now: the same number in the same boot, else carried over by the wall
// clock.
int64_t restart_time(Engine& engine, const RecordClock& clock, int64_t ms);

// Removes the records of rules the load does not have, and the engine's
// memory of them.
void restart_forget_other_rules(Engine& engine, const RuleList& loaded,
                                const std::map<uint32_t, RestartRule>& rules);

// At start, after the references took up their records (resumed[seq] for
// each that did) and before any of them queues: each action the last
// process had queued, in its order. One whose rule, reference and action
// are still what it was queued for and that had not started is queued
// again, its command built again by its own queue operation with the
// update and the time it was queued for; one that had started is not run
// again ("Action %s for AR %s was running when the daemon stopped: not run
// again"); the others are dropped ("Dropped action: %s for AR: %s - why").
// Where its reference resumed in the very cycle it was queued in, its
// status is Queued: it does not fall due again.
void restart_requeue(Engine& engine, const RestartState& records, const std::vector<bool>& resumed);
