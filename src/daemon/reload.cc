// The reload sequence of the running daemon.
#include "daemon/reload.h"

#include <string>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <utility>
#include <vector>

#include "base/log.h"
#include "config/loader.h"
#include "daemon/context.h"
#include "daemon/daemon_status.h"
#include "link/link.h"
#include "engine/load.h"
#include "engine/start.h"

int load_config(DaemonContext* ctx) {
#ifdef __GLIBC__
  // What the traffic since the last load freed goes back before the parse
  // comes on top of it.
  malloc_trim(0);
#endif
  // A file that is missing or half-written must not stop monitoring: the
  // running rules, their states and subscriptions stay until a reload
  // finds a configuration it can open. The running rules' database may
  // have parsed the edited file already (a read finds a changed file and
  // parses it): that parse serves.
  xmldb_t* db = xmldb_open_beside(ctx->config != nullptr ? ctx->config->db : nullptr);
  if (db == nullptr) {
    ar_log(kLogFatal, "Could not open config database");
    status_publish_load(ctx, false);
    return -1;
  }
  const bool first = ctx->config == nullptr;
  ReloadOutcome outcome;
  engine_load(ctx->engine, &ctx->config, db, &outcome);
  // Every finding has been logged; the running daemon has no reader for
  // them and keeps no memory for them.
  std::vector<LoadFinding>().swap(ctx->config->findings);
#ifdef __GLIBC__
  // The old load was thousands of small blocks among the new load's: their
  // pages go back to the system now rather than stay resident in the heap
  // until a later load happens to reuse them.
  malloc_trim(0);
#endif
  ctx->boot_delay = ctx->config->boot_delay;
  status_publish_load(ctx, true, first ? "-" : reload_outcome_text(outcome));
  return 0;
}

int open_config(DaemonContext* ctx) {
  xmldb_t* db = xmldb_open(nullptr);
  if (db == nullptr) {
    ar_log(kLogFatal, "Could not open config database");
    return -1;
  }
  ctx->pending = config_load(db);
  ctx->boot_delay = ctx->pending->boot_delay;
  return 0;
}

void start_config(DaemonContext* ctx) {
  if (ctx->pending == nullptr) {
    status_publish_load(ctx, false);
    return;
  }
  engine_start(ctx->engine, &ctx->config, std::move(ctx->pending));
  std::vector<LoadFinding>().swap(ctx->config->findings);
  status_publish_queue(ctx);
  status_publish_load(ctx, true);
}

void unload_config(DaemonContext* ctx) {
  engine_release(ctx->engine);
  ctx->config.reset();
}

void reload_config(int /*signal_number*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    ar_log(kLogInfo, "SIGHUP - Reloading Config");
    load_config(ctx);
  });
}
