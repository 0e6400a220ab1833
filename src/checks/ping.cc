// Ping check: the result code of a reachability test of a host, which
// another component runs and publishes under the rule's own path. A
// non-zero code triggers; 0 (reachable) resolves.
#include <string>

#include "checks/check_type.h"
#include "checks/modules.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

namespace {

int ping_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (!event) return 0;
  const char* path = check->conf.ar->path.c_str();
  // A result that is no number (a word such as "timeout") reads as 0.
  const int32_t code = leading_int(event->value.c_str());
  const ArCheckState state = check->state;

  if (code != 0) {
    if (state == kArNormal) {
      ar_log(kLogInfo, "AR %s triggered. val %d vs trigger 0", path, code);
      ar_trigger(check, std::move(event));
    } else if (state == kArTriggered) {
      ar_refresh(check, std::move(event));
    }
    return 0;
  }
  if (state == kArTriggered) {
    ar_log(kLogInfo, "ar %s resolving. val %d vs 0", path, code);
    ar_resolve(check, std::move(event));
  }
  return 0;
}

int ping_describe_device(ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, "net.ping.address"));
  set_output(label, "ICMP Ping");
  set_output(dev_ref, check->conf.ar->path);
  return 0;
}

int ping_describe_trigger(ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  set_output(trigger, "0");
  return 0;
}

// The ping runner publishes its result under the rule's own path.
int ping_subscription_key(ArCheck* check, std::string* key) {
  if (key != nullptr) *key = check->conf.ar->path + ".check.status";
  return 0;
}

}  // namespace

const CheckOps kPingCheckOps = {
    ping_on_event,
    ping_describe_device,
    ping_describe_trigger,
    ping_subscription_key,
};
