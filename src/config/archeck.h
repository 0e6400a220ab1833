// ArCheck: the runtime object of one AutoResponse and one device reference.
// What was loaded for it (ArCheckConf) stays as it is until the next reload;
// the rest is what happens to it at run time. Created by the loader,
// released on reload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/check_event.h"

struct Action;
struct AutoResponse;
struct CheckOps;
struct DaemonContext;

enum ArCheckState : int32_t {
  kArNone = 0,  // created, not yet moved to Normal
  kArNormal = 1,
  kArTriggered = 2,
  kArResolving = 3,
  kArTimeout = 4,
  kArDisabled = 5,
};

enum ActionStatus : int32_t {
  kActionNew = 0,
  kActionPending = 1,
  kActionQueued = 2,
  kActionDropped = 3,
};

// One of the rule's Actions as a reference runs it, with the delay read
// when the ArCheck was made.
struct ActionEntry {
  const Action* action = nullptr;  // owned by the AutoResponse
  int32_t delay_time = 0;          // seconds after the trigger
};

struct ArCheckConf {
  AutoResponse* ar = nullptr;  // not owned
  uint32_t ref_index = 0;
  std::string subscription;    // the key text that routes updates here
  std::string curr_entry_key;  // "%s.refs.ref%u.curr_entry"
  const CheckOps* ops = nullptr;
  std::vector<ActionEntry> trigger_actions;
  std::vector<ActionEntry> resolve_actions;
};

struct ArCheck {
  ArCheckConf conf;
  ArCheckState state = kArNone;
  int64_t state_time = 0;  // monotonic seconds of the last state change
  CheckEventPtr current_event;
  // One status per entry of conf.trigger_actions and conf.resolve_actions.
  std::vector<ActionStatus> trigger_status;
  std::vector<ActionStatus> resolve_status;
  uint32_t seq = 0;  // position in the context's checks list, for routing order
};

// Creates the ArCheck of ar's reference index and appends it to the
// context's checks; -1 (reason logged) when the check cannot be made.
int create_archeck(DaemonContext* ctx, AutoResponse* ar, uint32_t index);

// Unsubscribes an ArCheck's key; its memory goes with the list node.
void free_archeck(ArCheck* check);
