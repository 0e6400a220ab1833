// A load's references taken in, and those of the load it replaces let go:
// a reload, and the steps a start shares with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/xmldb.h"

struct Engine;
struct LoadedConfig;

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
  // The most rules of each kind the text names.
  static constexpr size_t kNamed = 5;
  size_t unchanged = 0;
  // Rules built again: whether references of each took the state of those
  // they replace (engine/carry.h), and the delayed trigger actions the
  // others dropped (a name once however many references dropped it).
  struct Changed {
    std::string name;
    std::vector<std::string> dropped;
    bool carried = false;
  };
  // The first kNamed of each kind, and how many there were: a reload of
  // thousands of rules holds no record of each beside both loads.
  std::vector<Changed> changed;
  std::vector<std::string> added;
  std::vector<std::string> removed;
  size_t changed_count = 0;
  size_t added_count = 0;
  size_t removed_count = 0;
};

// "11 rules unchanged, 1 changed: rack4-overheat reset, its delayed action
// 'cut rack power' dropped; 1 added: spare-ups", naming at most a few
// rules of each kind ("and 7 more"); a rule whose state an edit carried is
// "carried".
std::string reload_outcome_text(const ReloadOutcome& outcome);

void engine_load(Engine& engine, std::unique_ptr<LoadedConfig>* running, xmldb_t* db,
                 ReloadOutcome* outcome = nullptr);

// Lets the engine's references go: the index is emptied and each key
// unsubscribed. Queued and running actions stay.
void engine_release(Engine& engine);

// The steps a start shares with a reload. How a reference not kept whole
// came to a load: made afresh, resumed from its restart record, or carried
// by an edit from the load before.
constexpr uint8_t kTakenFresh = 0;
constexpr uint8_t kTakenResumed = 1;
constexpr uint8_t kTakenCarried = 2;

// The load's limits for the action queue: a concurrency of 0 keeps the one
// in force; the time-out is the file's, 0 for none.
void load_take_limits(Engine& engine, const LoadedConfig& config);

// Makes config's references the engine's: the queue's entries and the
// routing index follow them, each new one takes its identity, and each
// rule with a new one its restart fingerprint.
void load_attach(Engine& engine, LoadedConfig& config);

// Each new reference of config in order is subscribed and moved to Normal,
// or to Disabled at once when its rule's window is open now, and its level
// read; one that took up its restart record or was carried (taken[seq])
// publishes the state it took instead.
void load_adopt(Engine& engine, LoadedConfig& config, const std::vector<uint8_t>* taken);
