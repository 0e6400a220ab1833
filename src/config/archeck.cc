// Creating and releasing ArChecks, and their status records.
#include "config/archeck.h"

#include <algorithm>

#include "checks/check_type.h"
#include "config/action.h"
#include "config/autoresponse.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"

void ActionStatuses::reset(size_t count) {
  if (count > kInline) {
    heap_ = std::make_unique<ActionStatus[]>(count);
  } else {
    heap_.reset();
  }
  std::fill_n(data(), count, kActionNew);
}

size_t ArCheck::trigger_count() const { return conf.ar->trigger_actions.size(); }

size_t ArCheck::resolve_count() const { return conf.ar->resolve_actions.size(); }

std::string archeck_key(const ArCheck& check, const char* suffix) {
  std::string key = check.conf.ar->path;
  key += ".refs.ref";
  key += std::to_string(check.conf.ref_index);
  key += suffix;
  return key;
}

int create_archeck(DaemonContext* ctx, AutoResponse* ar, uint32_t index) {
  // Built apart and appended only when complete, so a failure at any step
  // leaves nothing behind.
  ArCheck check;
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
  // Built by appending: its spare room would stay for as long as the rule.
  conf.subscription.shrink_to_fit();
  read_action_delays(ar);
  check.statuses.reset(ar->trigger_actions.size() + ar->resolve_actions.size());
  ar_log(kLogDebug, "Appending new AR Check Status: %s - %d", ar->path.c_str(), static_cast<int>(index));
  ctx->checks.push_back(std::move(check));
  return 0;
}

void free_archeck(ArCheck* check) {
  link_unsubscribe(&check->conf.ar->daemon->link, check->conf.subscription.c_str());
}
