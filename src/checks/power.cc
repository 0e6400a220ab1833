// Power check: one numeric property of a UPS or an internal power supply
// against a threshold with hysteresis (the environmental check's rule with
// its own property and device tables, and no trigger counter).
#include <cstring>
#include <string>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/snmp_alert.h"
#include "checks/threshold.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// A watched property: its two configurable names and the text an update's
// key must contain. "temp" has no short name.
struct PowerProperty {
  const char* long_name;
  const char* short_name;
  const char* key_text;
};

const PowerProperty kPowerProperties[] = {
    {"input.voltage", "voltage", "status.input.voltage"},
    {"battery.charge", "charge", "status.battery.charge"},
    {"output.load", "load", "status.output.load"},
    {"input.frequency", "frequency", "status.input.frequency"},
    {"output.current", "current", "status.output.current"},
    {"temp", nullptr, "status.temp"},
};

// The kind of device a reference names; tested in order.
struct PowerDevice {
  const char* ref_text;
  const char* label;
  const char* device;         // the fixed display name, or the default one
  bool uses_configured_name;  // the "name" under the reference wins when set
};

const PowerDevice kPowerDevices[] = {
    {"config.ups", "UPS", "UPS", true},
    {"config.powersupplies", "Sensor enabled internal power supply", "Power Supply", false},
};

// The property named by check_type, long names first; null when none.
const PowerProperty* find_property(const char* check_type) {
  for (const PowerProperty& p : kPowerProperties) {
    if (strcmp(check_type, p.long_name) == 0) return &p;
    if (p.short_name != nullptr && strcmp(check_type, p.short_name) == 0) return &p;
  }
  return nullptr;
}

const ThresholdKeys kPowerThreshold = {"power.trigger_val", "power.hysteresis", "power.comparison"};

CheckOutcome power_on_event(const ArCheck* check, const CheckEvent& event) {
  const char* path = check->conf.ar->path.c_str();
  const std::string check_type = check_setting(check, "power.check_type");
  if (check_type.empty()) ar_log(kLogFatal, "Invalid check type: %s.power.check_type", path);
  // A misconfigured rule discards its updates; it must not end the daemon
  // and with it every other rule's monitoring.
  Threshold threshold;
  if (!threshold_read(check, kPowerThreshold, &threshold)) return outcome_drop();
  const PowerProperty* property = find_property(check_type.c_str());
  if (property == nullptr) {
    ar_log(kLogFatal, "Invalid check type: %s for %s", check_type.c_str(), path);
    return outcome_drop();
  }
  if (event.key.find(property->key_text) == std::string::npos) return outcome_drop();
  return threshold_outcome(check, threshold, event.value);
}

int power_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, "power.dev_ref");
  if (ref.empty()) {
    ar_log(kLogFatal, "Could not get ref from ar %s", check->conf.ar->path.c_str());
    return -1;
  }
  for (const PowerDevice& kind : kPowerDevices) {
    if (ref.find(kind.ref_text) == std::string::npos) continue;
    std::string name;
    if (kind.uses_configured_name) name = check_setting_at(check, ref.c_str(), "name");
    set_output(device, name.empty() ? kind.device : name);
    set_output(label, kind.label);
    set_output(dev_ref, ref);
    return 0;
  }
  return -1;
}

int power_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, check_setting(check, "power.check_type"));
  set_output(trigger, check_setting(check, "power.trigger_val"));
  return 0;
}

int power_subscription_key(const ArCheck* check, std::string* key) {
  const std::string check_type = check_setting(check, "power.check_type");
  const std::string dev_ref = check_setting(check, "power.dev_ref");
  if (check_type.empty() || dev_ref.empty()) {
    ar_log(kLogFatal, "Invalid power property for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  if (key == nullptr) return 0;
  // Updates always carry the long name, so a short name subscribes with
  // its long one or the rule would never hear of its property. A name
  // outside the table is kept as configured; on_event reports it.
  const PowerProperty* property = find_property(check_type.c_str());
  *key = dev_ref + ".status." + (property != nullptr ? property->long_name : check_type);
  return 0;
}

void power_audit(const ArCheck* check, AuditReport* report) {
  const std::string property = check_setting(check, "power.check_type");
  if (audit_required(check, "power.check_type", no_subscription("set a property such as battery.charge"), report) &&
      find_property(property.c_str()) == nullptr) {
    std::vector<std::string> names;
    for (const PowerProperty& p : kPowerProperties) names.emplace_back(p.long_name);
    audit_choice(report, audit_path(check, "power.check_type"), property, names, "a UPS property",
                 "the daemon discards every update of this rule");
  }
  const std::string ref = check_setting(check, "power.dev_ref");
  if (audit_required(check, "power.dev_ref", no_subscription("name the UPS, such as config.ups.ups1"), report)) {
    const PowerDevice* device = nullptr;
    for (const PowerDevice& d : kPowerDevices) {
      if (device == nullptr && ref.find(d.ref_text) != std::string::npos) device = &d;
    }
    if (device != nullptr || ref.compare(0, 7, "config.") != 0) {
      const bool supply = device != nullptr && !device->uses_configured_name;
      audit_device(check, "power.dev_ref", 3, supply ? "power supply" : "UPS", report);
    } else {
      report->warning(audit_path(check, "power.dev_ref"),
                      quoted(ref) + " is neither a UPS (config.ups...) nor a power supply (config.powersupplies...), "
                      "so alerts cannot name it");
    }
  }
  threshold_audit(check, kPowerThreshold, report);
}

// As the environmental alert: the reading against its threshold.
int power_snmp_args(const ArCheck* check, SnmpArgs* args) { return snmp_reading_args(check, "power", args); }

const char* const kPowerSettings[] = {"power.check_type", "power.dev_ref", "power.trigger_val", "power.hysteresis", "power.comparison", nullptr};

}  // namespace

extern const CheckType kPowerCheck;
const CheckType kPowerCheck = {
    "power",  // name
    "power",  // domain
    true,  // has_resolve
    nullptr,  // on_change_flag
    {
        power_on_event,  // on_event
        nullptr,  // trigger_counter
        power_describe_device,  // describe_device
        power_describe_trigger,  // describe_trigger
        power_subscription_key,  // subscription_key
        power_snmp_args,  // snmp_args
        power_audit,  // audit
        nullptr,  // reply_to
    },
    "power-alert",  // snmp_script
    kPowerSettings,
    nullptr,  // threshold
};
