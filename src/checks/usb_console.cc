// USB console status check: a USB console port of the reference being
// connected or disconnected.
#include <string>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kTriggerConnect = "usb_console_status.trigger_connect";

constexpr const char* kTriggerDisconnect = "usb_console_status.trigger_disconnect";

// The configuration path of the reference's port; "" when unset.
std::string usb_port(const ArCheck* check) {
  const std::string key = "usb_console_status.dev_refs.dev_ref" + std::to_string(check->conf.ref_index);
  return check_setting(check, key.c_str());
}

bool trigger_connect(const ArCheck* check) { return check_setting_flag(check, kTriggerConnect); }

bool trigger_disconnect(const ArCheck* check) {
  return check_setting_flag(check, kTriggerDisconnect);
}

CheckOutcome usb_console_on_event(const ArCheck* check, const CheckEvent& event) {
  const bool matches = (trigger_connect(check) && event.value == "connected") ||
                       (trigger_disconnect(check) && event.value == "disconnected");
  return matches ? trigger_when_normal(check, event) : outcome_drop();
}

int usb_console_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string port = usb_port(check);
  if (port.empty()) {
    ar_log(kLogFatal, "Invalid usb console settings for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  set_output(device, check_setting_at(check, port.c_str(), "label"));
  set_output(label, "USB Console Port");
  set_output(dev_ref, port);
  return 0;
}

int usb_console_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, "N/A");
  const bool connect = trigger_connect(check);
  const bool disconnect = trigger_disconnect(check);
  set_output(trigger, connect && disconnect ? "connected/disconnected" : connect ? "connected" : "disconnected");
  return 0;
}

int usb_console_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason) {
  const std::string port = usb_port(check);
  if (port.empty() || (!trigger_connect(check) && !trigger_disconnect(check))) {
    return refuse_settings(reason, kLogFatal, "Invalid usb port or trigger conditions for AR: %s",
                           check->conf.ar->name.c_str());
  }
  if (key != nullptr) *key = port + ".dev.usb.event";
  return 0;
}

void usb_console_audit(const ArCheck* check, AuditReport* report) {
  std::string key;
  if (!audit_reference_entry(check, "usb_console_status", "name its USB console port", report, &key).empty()) {
    audit_device(check, key.c_str(), 3, "USB port", report);
  }
  audit_flag(check, kTriggerConnect, report);
  audit_flag(check, kTriggerDisconnect, report);
  if (!trigger_connect(check) && !trigger_disconnect(check)) {
    report->error(audit_path(check, "usb_console_status"), "neither trigger_connect nor trigger_disconnect is on, so " +
                                                               no_subscription("turn one on"));
  }
}

const char* const kUsbConsoleSettings[] = {
    kTriggerConnect, kTriggerDisconnect, "usb_console_status.dev_refs.dev_ref#", nullptr,
};

}  // namespace

extern const CheckType kUsbConsoleCheck = {
    .name = "usb_console_status",
    .domain = "usb_console_status",
    .ops = {
        .on_event = usb_console_on_event,
        .describe_device = usb_console_describe_device,
        .describe_trigger = usb_console_describe_trigger,
        .subscription_key = usb_console_subscription_key,
        .audit = usb_console_audit,
    },
    .settings = kUsbConsoleSettings,
};
