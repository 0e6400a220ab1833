// ArChecks' status records and keys.
#include "model/archeck.h"

#include <algorithm>

#include "model/action.h"
#include "model/autoresponse.h"

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
