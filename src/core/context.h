// DaemonContext: the single state record of the process, passed to every
// event callback. It holds the link, the loaded rules and their ArChecks,
// the routing index and the action queue.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "actions/queue.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/link.h"
#include "core/loop.h"
#include "engine/router.h"
#include "platform/xmldb.h"

class Clock;
struct Paths;

struct DaemonContext {
  DaemonContext() { link.exit_status = &exit_status; }
  DaemonContext(const DaemonContext&) = delete;
  DaemonContext& operator=(const DaemonContext&) = delete;

  InfodLink link;
  LoopEvent tick_event;
  LoopEvent sigchld_event;
  uint32_t boot_delay = 0;
  xmldb_t* config_db = nullptr;
  const char* control_key = nullptr;

  // Appended to only (a rejected rule is never added), so the addresses
  // that ArChecks and the routing index hold stay valid until unload.
  std::deque<AutoResponse> autoresponses;
  std::deque<ArCheck> checks;
  CmsNodes cms_nodes;  // the central-management nodes of this load
  RouteIndex routes;

  std::list<QueuedAction> action_queue;
  // Turns of the fair order (actions/queue.h): the turn of the action
  // started last, and the next turn of each rule that has had one since.
  uint64_t action_turn = 0;
  std::vector<std::pair<std::string, uint64_t>> rule_turns;
  uint32_t load_count = 0;   // loads so far: which load a queued action's entry belongs to
  int32_t queued_actions = 0;
  int32_t running_actions = 0;
  int32_t concurrent_actions = 2;
  int32_t action_timeout = 0;  // seconds a child may run; 0: no limit

  // Seams: where the fixed paths are, which clocks, how children start.
  const Paths* paths = nullptr;
  Clock* clock = nullptr;
  Spawner* spawner = nullptr;

  // The queue as the daemon's status last published it; "" before the first.
  std::string published_queue;

  // Set by a fatal error: the loop stops and the process ends with it.
  int exit_status = -1;
};
