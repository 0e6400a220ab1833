// Custom script check: the result code of a check script that another
// component runs and publishes under the rule's own path. Any code other
// than the configured good code (0 when none is set) triggers; the good
// code again resolves.
#include <string>

#include "checks/check_type.h"
#include "checks/modules.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

namespace {

int custom_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (!event) return 0;
  const char* path = check->conf.ar->path.c_str();
  const int32_t good = leading_int(check_setting(check, "custom.trigger_code"));
  const int32_t code = leading_int(event->value.c_str());
  const ArCheckState state = check->state;

  if (code != good) {
    if (state == kArNormal) {
      ar_log(kLogInfo, "AR %s triggered. val %d vs trigger %d", path, code, good);
      ar_trigger(check, std::move(event));
    } else if (state == kArTriggered) {
      ar_refresh(check, std::move(event));
    }
    return 0;
  }
  if (state == kArTriggered) {
    // The 0 is part of the line whatever the good code is; tools that
    // read the log expect it.
    ar_log(kLogInfo, "ar %s resolving. val %d vs 0", path, good);
    ar_resolve(check, std::move(event));
  }
  return 0;
}

int custom_describe_device(ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, "name"));
  set_output(label, "Custom Script");
  set_output(dev_ref, check->conf.ar->path);
  return 0;
}

int custom_describe_trigger(ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  set_output(trigger, check_setting(check, "custom.trigger_code"));
  return 0;
}

// The script runner publishes its result under the rule's own path.
int custom_subscription_key(ArCheck* check, std::string* key) {
  if (key != nullptr) *key = check->conf.ar->path + ".check.status";
  return 0;
}

}  // namespace

const CheckOps kCustomCheckOps = {
    custom_on_event,
    custom_describe_device,
    custom_describe_trigger,
    custom_subscription_key,
};
