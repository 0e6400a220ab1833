// Network interface check: state changes of a network connection, modem,
// IPsec daemon or VPN tunnel, chosen by a mask of interface events.
#include <string>

#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/interface_info.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kRef = "conman.ref";

constexpr const char* kEventMask = "conman.event_mask";

CheckOutcome net_interface_on_event(const ArCheck* check, const CheckEvent& event) {
  const auto mask = static_cast<uint32_t>(check_setting_size(check, kEventMask));
  const ConmanEvent* kind = conman_event_find(event.value.c_str());
  if (kind == nullptr || (mask & kind->bit) == 0) return outcome_drop();
  return trigger_when_normal(check, event);
}

int net_interface_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label,
                                  OptionalText* dev_ref) {
  return interface_describe_device(check, kRef, device, label, dev_ref);
}

int net_interface_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property,
                                   OptionalText* trigger) {
  if (!check->current_event) return -1;
  const CheckEvent& event = *check->current_event;
  set_output(value, event.key + ": " + event.value);
  // Only a known event triggers, so the current one always has a bit.
  const ConmanEvent* kind = conman_event_find(event.value.c_str());
  set_output(property, kind != nullptr ? std::to_string(kind->bit) : "N/A");
  set_output(trigger, "N/A");
  return 0;
}

int net_interface_subscription_key(const ArCheck* check, std::string* key, CheckReason* /*reason*/) {
  const std::string ref = check_setting(check, kRef);
  InterfaceRef info;
  // A tunnel without a name has no status key to watch.
  if (!interface_resolve(check, ref, &info) || info.status_key.empty()) return -1;
  if (key != nullptr) *key = std::move(info.status_key);
  return 0;
}

void net_interface_audit(const ArCheck* check, AuditReport* report) {
  interface_audit(check, kRef, no_subscription("name the interface, such as config.interfaces.wan"), report);
  audit_whole_number(check, kEventMask, report);
  unsigned all = 0;
  for (const ConmanEvent* e = kConmanEvents; e->event != nullptr; ++e) all |= e->bit;
  if ((static_cast<uint32_t>(check_setting_size(check, kEventMask)) & all) == 0) {
    report->error(audit_path(check, kEventMask),
                  "no event is chosen, so every update is discarded; add up the events: down 1, starting 2, up 4, "
                  "stopping 8");
  }
}

// Interface, its kind, the event's bit, the event, trigger.
int net_interface_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  const unsigned wanted = kSnmpDeviceOutputs | kSnmpTriggerOutputs;
  if (!snmp_describe(check, wanted, kSnmpDevice | kSnmpLabel | kSnmpValue, &d)) return -1;
  args->insert(args->end(), {*d.device, *d.label, *d.property, *d.value, *d.trigger});
  return 0;
}

const char* const kNetInterfaceSettings[] = {kRef, kEventMask, nullptr};

}  // namespace

extern const CheckType kNetInterfaceCheck = {
    .name = "conman",
    .domain = "conman",
    .ops = {
        .on_event = net_interface_on_event,
        .describe_device = net_interface_describe_device,
        .describe_trigger = net_interface_describe_trigger,
        .subscription_key = net_interface_subscription_key,
        .snmp_args = net_interface_snmp_args,
        .audit = net_interface_audit,
    },
    .snmp_script = "network-interface-alert",
    .settings = kNetInterfaceSettings,
};
