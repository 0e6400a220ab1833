// DaemonContext: the single state record of the process, passed to every
// event callback.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "actions/queue.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/loop.h"
#include "core/router.h"
#include "platform/xmldb.h"

class Clock;
struct Paths;

// One framed outgoing message: the 4-byte length header and the body.
struct InfodMessage {
  std::string text;
};

struct DaemonContext {
  int infod_fd = -1;
  LoopEvent read_event;
  LoopEvent write_event;
  LoopEvent tick_event;
  LoopEvent sigchld_event;
  uint32_t boot_delay = 0;
  xmldb_t* config_db = nullptr;
  const char* control_key = nullptr;

  // Incoming reader: 0 idle, 1 header, 2 body.
  int read_state = 0;
  unsigned char header[4] = {};
  int header_read = 0;
  std::vector<char> body;  // body_len + 1 bytes, NUL-terminated
  uint32_t body_len = 0;
  uint32_t body_read = 0;

  // Outgoing writer.
  size_t write_offset = 0;
  bool write_event_added = false;
  std::deque<InfodMessage> out_queue;

  std::list<AutoResponse> autoresponses;
  std::list<ArCheck> checks;
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
