// Ping check: the result code of a reachability test of a host, which
// another component runs and publishes under the rule's own path. A
// non-zero code triggers; 0 (reachable) resolves.
#include <string>

#include "checks/check_type.h"
#include "checks/level.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kAddress = "net.ping.address";

// A result that is no number (a word such as "timeout") reads as 0.
CheckOutcome ping_on_event(const ArCheck* check, const CheckEvent& event) {
  return result_code_outcome(check, leading_int(event.value.c_str()), 0);
}

int ping_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, kAddress));
  set_output(label, "ICMP Ping");
  set_output(dev_ref, check->conf.ar->path());
  return 0;
}

// The ping runner publishes its result under the rule's own path.
// Address, property, result, trigger.
int ping_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  const unsigned wanted = kSnmpDevice | kSnmpDevRef | kSnmpTriggerOutputs;
  if (!snmp_describe(check, wanted, kSnmpDevice | kSnmpValue | kSnmpProperty, &d)) return -1;
  args->insert(args->end(), {*d.device, *d.property, *d.value, *d.trigger});
  return 0;
}

const char* const kPingSettings[] = {kAddress, nullptr};

}  // namespace

extern const CheckType kPingCheck = {
    .name = "net_ping",
    .domain = "net.ping",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = ping_on_event,
        .describe_device = ping_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = subscription_key_by_kind,
        .snmp_args = ping_snmp_args,
    },
    .snmp_script = "host-alert",
    .settings = kPingSettings,
    .property = {.fixed = "N/A"},
    .trigger = {.fixed = "0"},
    .key = {.joint = ".check.status"},
};
