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

void copy_entries(xmldb_t* db, const ActionList& actions, std::vector<ActionEntry>* entries,
                  std::vector<ActionStatus>* statuses) {
  entries->reserve(actions.size());
  for (const Action& action : actions) {
    entries->push_back(ActionEntry{&action, xmldb_getsize(db, action.path.c_str(), "delay_time")});
  }
  statuses->assign(entries->size(), kActionNew);
}

}  // namespace

int create_archeck(DaemonContext* ctx, AutoResponse* ar, uint32_t index) {
  // Built in a list of its own and spliced over only when complete, so a
  // failure at any step leaves nothing behind.
  std::list<ArCheck> node(1);
  ArCheck& check = node.back();
  ArCheckConf& conf = check.conf;
  conf.ar = ar;
  conf.ref_index = index;
  const CheckType* type = check_type_find(ar->check_type);
  if (type == nullptr || type->ops == nullptr) {
    ar_log(kLogFatal, "Unknown check type");
    return -1;
  }
  conf.ops = type->ops;
  if (conf.ops->subscription_key(&check, &conf.subscription) != 0) {
    ar_log(kLogWarn, "No subscription for rule: %s - %d", ar->path.c_str(), static_cast<int>(index));
    return -1;
  }
  conf.curr_entry_key = ar->path + ".refs.ref" + std::to_string(index) + ".curr_entry";
  copy_entries(ctx->config_db, ar->trigger_actions, &conf.trigger_actions, &check.trigger_status);
  copy_entries(ctx->config_db, ar->resolve_actions, &conf.resolve_actions, &check.resolve_status);
  ar_log(kLogDebug, "Appending new AR Check Status: %s - %d", ar->path.c_str(), static_cast<int>(index));
  ctx->checks.splice(ctx->checks.end(), node);
  return 0;
}

void free_archeck(ArCheck* check) {
  link_unsubscribe(&check->conf.ar->daemon->link, check->conf.subscription.c_str());
}
