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
#include "engine/state.h"

namespace {

// Takes the opened database in: the new load replaces the running one.
void adopt(DaemonContext* ctx, xmldb_t* db) {
  unload_config(ctx);
  ctx->config = config_load(db);
  LoadedConfig& config = *ctx->config;
  // Every finding has been logged; the running daemon has no reader for
  // them and keeps no memory for them.
  std::vector<LoadFinding>().swap(config.findings);
  engine_adopt(ctx->engine, &config.checks);
  ctx->boot_delay = config.boot_delay;
  if (config.concurrent_actions > 0) ctx->queue.concurrent_actions = config.concurrent_actions;
  // Unlike the limit above, a time-out taken out of the file is gone.
  ctx->queue.action_timeout = config.action_timeout;
}

}  // namespace

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
  if (ctx->config != nullptr) {
    for (const ArCheck& check : ctx->config->checks) ar_drop_delayed(&check, "the configuration was reloaded");
  }
  adopt(ctx, db);
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
