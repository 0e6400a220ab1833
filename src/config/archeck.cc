// Creating and releasing ArChecks.
#include "config/archeck.h"

#include <list>

#include "checks/check_type.h"
#include "config/action.h"
#include "config/autoresponse.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"

namespace {

void copy_entries(DaemonContext* ctx, ActionList& actions, std::vector<ActionEntry>* entries) {
  entries->reserve(actions.size());
  for (Action& action : actions) {
    ActionEntry entry;
    entry.action = &action;
    entry.delay_time = xmldb_getsize(ctx->config_db, action.path.c_str(), "delay_time");
    entries->push_back(entry);
  }
}

}  // namespace

DaemonContext* check_context(const ArCheck* check) { return check->ar->daemon; }

int create_archeck(DaemonContext* ctx, AutoResponse* ar, uint32_t index) {
  // Built in a list of its own and spliced over only when complete, so a
  // failure at any step leaves nothing behind.
  std::list<ArCheck> node(1);
  ArCheck& check = node.back();
  check.ar = ar;
  check.ref_index = index;
  const CheckType* type = check_type_find(ar->check_type);
  if (type == nullptr || type->ops == nullptr) {
    ar_log(kLogFatal, "Unknown check type");
    return -1;
  }
  check.ops = type->ops;
  if (check.ops->subscription_key(&check, &check.subscription) != 0) {
    ar_log(kLogWarn, "No subscription for rule: %s - %d", ar->path.c_str(), static_cast<int>(index));
    return -1;
  }
  check.curr_entry_key = ar->path + ".refs.ref" + std::to_string(index) + ".curr_entry";
  copy_entries(ctx, ar->trigger_actions, &check.trigger_actions);
  copy_entries(ctx, ar->resolve_actions, &check.resolve_actions);
  check.pending.reserve(1);
  ar_log(kLogDebug, "Appending new AR Check Status: %s - %d", ar->path.c_str(), static_cast<int>(index));
  ctx->checks.splice(ctx->checks.end(), node);
  return 0;
}

void free_archeck(ArCheck* check) { link_unsubscribe(&check->ar->daemon->link, check->subscription.c_str()); }
