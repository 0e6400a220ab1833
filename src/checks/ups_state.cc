// UPS state check: a UPS's status text, triggering when it equals the
// configured condition and resolving when the UPS is back "online".
#include <string>

#include "checks/check_type.h"
#include "checks/modules.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

namespace {

constexpr const char* kOnline = "online";

int ups_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (!event) return 0;
  const char* path = check->conf.ar->path.c_str();
  const std::string condition = check_setting(check, "ups.state.trigger_cond");
  if (event->key.find("event.status") == std::string::npos) return 0;
  const std::string& status = event->value;
  const bool triggered = check->state == kArTriggered;
  // The condition is tested first: a rule waiting for "online" triggers on
  // it and so never resolves by itself.
  if (status == condition) {
    if (check->state == kArNormal) {
      ar_log(kLogInfo, "AR %s triggered. val %s vs trigger %s", path, status.c_str(), condition.c_str());
      ar_trigger(check, std::move(event));
    } else if (triggered) {
      ar_refresh(check, std::move(event));
    }
  } else if (triggered && status == kOnline) {
    ar_log(kLogInfo, "ar %s resolving. val %s vs %s", path, status.c_str(), condition.c_str());
    ar_resolve(check, std::move(event));
  } else if (triggered) {
    ar_refresh(check, std::move(event));
  }
  return 0;
}

int ups_describe_device(ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, "ups.state.dev_ref");
  std::string name;
  if (!ref.empty()) name = check_setting_at(check, ref.c_str(), "name");
  set_output(device, name.empty() ? "UPS" : name);
  set_output(label, "UPS");
  set_output(dev_ref, ref);
  return 0;
}

int ups_describe_trigger(ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  set_output(trigger, check_setting(check, "ups.state.trigger_cond"));
  return 0;
}

int ups_subscription_key(ArCheck* check, std::string* key) {
  const std::string dev_ref = check_setting(check, "ups.state.dev_ref");
  // Without a reference the key would be ".event.status", which every
  // UPS's status update contains.
  if (dev_ref.empty()) {
    ar_log(kLogFatal, "Invalid UPS state property for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  if (key != nullptr) *key = dev_ref + ".event.status";
  return 0;
}

}  // namespace

const CheckOps kUpsStateCheckOps = {
    ups_on_event,
    ups_describe_device,
    ups_describe_trigger,
    ups_subscription_key,
};
