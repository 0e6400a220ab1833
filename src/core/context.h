// DaemonContext: the single state record of the process, passed to every
// event callback. It holds the link, the loaded rules and their ArChecks,
// the routing index and the action queue.
#pragma once

#include <cstdint>
#include <deque>
#include <list>

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
  int32_t queued_actions = 0;
  int32_t running_actions = 0;
  int32_t concurrent_actions = 2;
  int32_t action_timeout = 0;  // seconds a child may run; 0: no limit

  // Seams: where the fixed paths are, which clocks, how children start.
  const Paths* paths = nullptr;
  Clock* clock = nullptr;
  Spawner* spawner = nullptr;

  // Set by a fatal error: the loop stops and the process ends with it.
  int exit_status = -1;
};
