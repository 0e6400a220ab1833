// The reload sequence of the running daemon.
#include "daemon/reload.h"

#include <utility>
#include <vector>

#include "base/log.h"
#include "config/loader.h"
#include "daemon/context.h"
#include "daemon/daemon_status.h"
#include "link/link.h"
#include "engine/dispatch.h"

int load_config(DaemonContext* ctx) {
  // A file that is missing or half-written must not stop monitoring: the
  // running rules, their states and subscriptions stay until a reload
  // finds a configuration it can open.
  xmldb_t* db = xmldb_open(nullptr);
  if (db == nullptr) {
    ar_log(kLogFatal, "Could not open config database");
    status_publish_load(ctx, false);
    return -1;
  }
  engine_load(ctx->engine, &ctx->config, db);
  // Every finding has been logged; the running daemon has no reader for
  // them and keeps no memory for them.
  std::vector<LoadFinding>().swap(ctx->config->findings);
  ctx->boot_delay = ctx->config->boot_delay;
  status_publish_load(ctx, true);
  return 0;
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
