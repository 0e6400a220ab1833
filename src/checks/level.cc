// Level and result-code decisions.
#include "checks/level.h"

#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

constexpr const char* kTriggerLine = "AR %s triggered. val %d vs trigger %d";

}  // namespace

CheckOutcome level_outcome(const ArCheck* check, int32_t level, int32_t trigger, bool on_change) {
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  // Every change is news: a reference still Triggered triggers again, and
  // the state machine restarts its time and offers the actions anew.
  if (on_change) return outcome_trigger(kTriggerLine, path, level, trigger);
  if (level == trigger) {
    if (check->state == kArTriggered) return outcome_refresh();
    return outcome_trigger(kTriggerLine, path, trigger, trigger);
  }
  if (check->state != kArTriggered) return outcome_drop();
  return outcome_resolve("ar %s resolving. val %d vs %d", path, level, trigger);
}

CheckOutcome result_code_outcome(const ArCheck* check, int32_t code, int32_t good) {
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  if (code != good) {
    if (check->state == kArTriggered) return outcome_refresh();
    return outcome_trigger(kTriggerLine, path, code, good);
  }
  if (check->state != kArTriggered) return outcome_drop();
  // The 0 is part of the line whatever the good code is; tools that read
  // the log expect it.
  return outcome_resolve("ar %s resolving. val %d vs 0", path, good);
}
