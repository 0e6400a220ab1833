// Dispatch: a value update goes to every ArCheck that subscribed to its
// key and through each one's check; a load's references are taken in
// (routed, subscribed, Normal) and let go.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/xmldb.h"

struct ArCheck;
struct Engine;
struct LoadedConfig;

// Hands one update to every ArCheck that takes its key, in load order; an
// update of the control key is a control command (engine/control.h).
// Non-zero when one could not be applied (fatal).
int engine_deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value);

// A reply of infod's to a get: value null when it holds none
// (engine/level_read.h). Non-zero when it could not be applied (fatal).
int engine_reply(Engine& engine, const char* key, const char* value);

// Hands one update to check: a check that is neither Normal nor Triggered
// takes nothing (0; a level's reference keeps it as its latest value);
// otherwise its check module evaluates the update and
// ar_apply applies the outcome. -1 with "Could not allocate entry" when
// memory runs out, or when the outcome could not be applied.
int check_append_event(Engine& engine, ArCheck* check, const char* key, int32_t number, uint64_t time_ms,
                       const char* value);

// Replaces the running load (null at start) with one made from db, which
// it takes over. Rules that nothing changed keep their references whole
// (state, statuses, delayed actions, time-outs) and nothing about them is
// sent; the references of the others are let go (their delayed actions
// logged as dropped, their keys unsubscribed unless a kept reference
// watches the same) and the new ones made, each in order subscribed
// ("Adding subscription: %s") and moved to Normal, or Disabled when its
// rule's window is open. The load's limits go to the action queue (a
// concurrency of 0 keeps the one in force; the time-out is the file's, 0
// for none). Waiting actions then start up to the limit. Silences stay
// with their rule's path; those of a rule or reference the load no longer
// has end (engine/silence.h).
// What a reload kept and started again, by the rules' names.
struct ReloadOutcome {
  size_t unchanged = 0;
  // Rules built again: whether references of each took the state of those
  // they replace (engine/carry.h), and the delayed trigger actions the
  // others dropped (a name once however many references dropped it).
  struct Changed {
    std::string name;
    std::vector<std::string> dropped;
    bool carried = false;
  };
  std::vector<Changed> changed;
  std::vector<std::string> added;
  std::vector<std::string> removed;
};

// "11 rules unchanged, 1 changed: rack4-overheat reset, its delayed action
// 'cut rack power' dropped; 1 added: spare-ups", naming at most a few
// rules of each kind ("and 7 more"); a rule whose state an edit carried is
// "carried".
std::string reload_outcome_text(const ReloadOutcome& outcome);

void engine_load(Engine& engine, std::unique_ptr<LoadedConfig>* running, xmldb_t* db,
                 ReloadOutcome* outcome = nullptr);

// At start: makes loaded (made by config_load, no reference adopted yet)
// the running load, as engine_load does, except that it takes up what the
// last process kept in engine.records (engine/restart.h): each rule whose
// record was written for this very rule resumes its references, which
// publish the state kept instead of Normal; what the last process had
// queued and not started is queued again, ahead of what fell due while
// the daemon was down, which is queued now, once (a repeat or the end of a
// Timeout waits for the first tick). The silences in the records are taken
// up first, whatever configuration each was written for. The daemon's
// start and `arctl test`'s share it.
void engine_start(Engine& engine, std::unique_ptr<LoadedConfig>* running, std::unique_ptr<LoadedConfig> loaded);

// Lets the engine's references go: the index is emptied and each key
// unsubscribed. Queued and running actions stay.
void engine_release(Engine& engine);
