// Environmental sensor check: one temperature or humidity reading of a
// serial-port or the internal sensor against a threshold with hysteresis,
// and a trigger counter per sensor key kept in infod.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/enviro.h"
#include "checks/snmp_alert.h"
#include "checks/threshold.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// Counter keys are built from at most this much of the key's two ends.
constexpr size_t kCounterPrefixMax = 37;
constexpr size_t kCounterSuffixMax = 8;

const char* key_marker(const char* check_type) {
  if (strcmp(check_type, "temp") == 0) return "enviro.temp";
  if (strcmp(check_type, "humid") == 0) return "enviro.humid";
  return nullptr;
}

}  // namespace

int enviro_counter_key(const std::string& key, std::string* counter_key) {
  const size_t dot = key.rfind('.');
  if (dot == std::string::npos) {
    ar_log(kLogError, "Invalid prefix: %s", key.c_str());
    return -1;
  }
  *counter_key = key.substr(0, std::min(dot, kCounterPrefixMax)) + ".count." + key.substr(dot + 1, kCounterSuffixMax);
  return 0;
}

namespace {

const ThresholdKeys kEnviroThreshold = {"enviro.trigger_val", "enviro.hysteresis", "enviro.comparison"};

CheckOutcome enviro_on_event(const ArCheck* check, const CheckEvent& event) {
  const char* path = check->conf.ar->path.c_str();
  const std::string check_type = check_setting(check, "enviro.check_type");
  if (check_type.empty()) ar_log(kLogFatal, "Invalid check type for %s", path);
  // A misconfigured rule discards its updates; it must not end the daemon
  // and with it every other rule's monitoring.
  Threshold threshold;
  if (!threshold_read(check, kEnviroThreshold, &threshold)) return outcome_drop();
  const char* marker = key_marker(check_type.c_str());
  if (marker == nullptr) {
    ar_log(kLogFatal, "Invalid check type for %s", path);
    return outcome_drop();
  }
  if (event.key.find(marker) == std::string::npos) return outcome_drop();
  return threshold_outcome(check, threshold, event.value);
}

int enviro_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const std::string ref = check_setting(check, "enviro.dev_ref");
  if (ref.empty()) {
    ar_log(kLogFatal, "Could not get ref from ar %s", check->conf.ar->path.c_str());
    return -1;
  }
  const char* fallback;
  const char* kind;
  // A reference that names both is a serial-port sensor.
  if (ref.find("config.ports") != std::string::npos) {
    kind = "QTH5200";
    fallback = "Serial QTH";
  } else if (ref.find("config.internals.internal1") != std::string::npos) {
    kind = "Internal Temperature Sensor";
    fallback = "Internal QTH";
  } else {
    return -1;
  }
  const char* name = check_setting_at(check, ref.c_str(), "name");
  set_output(device, name[0] != '\0' ? name : fallback);
  set_output(label, kind);
  set_output(dev_ref, ref);
  return 0;
}

int enviro_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!current_value(check, value)) return -1;
  set_output(property, check_setting(check, "enviro.check_type"));
  set_output(trigger, check_setting(check, "enviro.trigger_val"));
  return 0;
}

int enviro_subscription_key(const ArCheck* check, std::string* key) {
  const std::string check_type = check_setting(check, "enviro.check_type");
  const std::string dev_ref = check_setting(check, "enviro.dev_ref");
  if (check_type.empty() || dev_ref.empty()) {
    ar_log(kLogFatal, "Invalid environmental property for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  if (key != nullptr) *key = dev_ref + "." + check_type;
  return 0;
}

void enviro_audit(const ArCheck* check, AuditReport* report) {
  const std::string kind = check_setting(check, "enviro.check_type");
  const std::string ref = check_setting(check, "enviro.dev_ref");
  if (audit_required(check, "enviro.check_type", no_subscription("set temp or humid"), report)) {
    audit_choice(report, audit_path(check, "enviro.check_type"), kind, {"temp", "humid"}, "a sensor reading",
                 "the rule watches " + (ref.empty() ? "its dev_ref" : ref) + "." + kind + ", which no sensor publishes");
  }
  const std::string fix = "name the sensor, such as config.ports.port1.enviro";
  if (audit_required(check, "enviro.dev_ref", no_subscription(fix), report)) {
    const bool on_port = ref.find("config.ports") != std::string::npos;
    if (on_port || ref.find("config.internals.internal1") != std::string::npos) {
      audit_device(check, "enviro.dev_ref", 3, on_port ? "port" : "sensor", report);
    } else if (ref.compare(0, 7, "config.") != 0) {
      audit_device(check, "enviro.dev_ref", 0, "sensor", report);
    } else {
      report->warning(audit_path(check, "enviro.dev_ref"),
                      quoted(ref) + " is neither a port's sensor (config.ports.portN.enviro) nor the internal one "
                      "(config.internals.internal1), so alerts cannot name it");
    }
  }
  threshold_audit(check, kEnviroThreshold, report);
}

// Device, label, property, the reading as a whole number, trigger value, comparison.
int enviro_snmp_args(const ArCheck* check, SnmpArgs* args) { return snmp_reading_args(check, "enviro", args); }

const char* const kEnviroSettings[] = {"enviro.check_type", "enviro.dev_ref", "enviro.trigger_val", "enviro.hysteresis", "enviro.comparison", nullptr};

}  // namespace

extern const CheckType kEnviroCheck;
const CheckType kEnviroCheck = {
    "environmental",  // name
    "enviro",  // domain
    true,  // has_resolve
    nullptr,  // on_change_flag
    {
        enviro_on_event,  // on_event
        enviro_counter_key,  // trigger_counter
        enviro_describe_device,  // describe_device
        enviro_describe_trigger,  // describe_trigger
        enviro_subscription_key,  // subscription_key
        enviro_snmp_args,  // snmp_args
        enviro_audit,  // audit
        nullptr,  // reply_to
    },
    "environmental-alert",  // snmp_script
    kEnviroSettings,
    nullptr,  // threshold
};
