// Environmental sensor check: one temperature or humidity reading of a
// serial-port or the internal sensor against a threshold with hysteresis
// (checks/threshold.h), and a trigger counter per sensor key kept in infod.
#include "checks/enviro.h"

#include <algorithm>
#include <string>

#include "base/log.h"
#include "checks/check_type.h"
#include "checks/threshold.h"

namespace {

// Counter keys are built from at most this much of the key's two ends.
constexpr size_t kCounterPrefixMax = 37;
constexpr size_t kCounterSuffixMax = 8;

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

constexpr const char* kProperty = "enviro.check_type";
constexpr const char* kDevRef = "enviro.dev_ref";
constexpr const char* kTriggerVal = "enviro.trigger_val";
constexpr const char* kHysteresis = "enviro.hysteresis";
constexpr const char* kComparison = "enviro.comparison";

const char* const kEnviroSettings[] = {kProperty, kDevRef, kTriggerVal, kHysteresis, kComparison, nullptr};

const ThresholdProperty kReadings[] = {
    {"temp", nullptr, "enviro.temp"},
    {"humid", nullptr, "enviro.humid"},
};

// A reference that names both is a serial-port sensor.
const ThresholdDevice kSensors[] = {
    {"config.ports", "QTH5200", "Serial QTH", true, "port"},
    {"config.internals.internal1", "Internal Temperature Sensor", "Internal QTH", true, "sensor"},
};

const ThresholdKind kEnviroThreshold = {
    .property_key = kProperty,
    .dev_ref_key = kDevRef,
    .keys = {.trigger_val = kTriggerVal, .hysteresis = kHysteresis, .comparison = kComparison},
    .properties = kReadings,
    .property_count = std::size(kReadings),
    .devices = kSensors,
    .device_count = std::size(kSensors),
    .key_joint = ".",
    .no_property = "Invalid check type for %s",
    .unknown_property = "Invalid check type for %s",
    .names_property = false,
    .invalid_for_ar = "environmental property",
    .property_fix = "set temp or humid",
    .property_what = "a sensor reading",
    .property_consequence = "the rule watches %s, which no sensor publishes",
    .dev_ref_fix = "name the sensor, such as config.ports.port1.enviro",
    .plain_ref_what = "sensor",
    .plain_ref_depth = 0,
    .neither = " is neither a port's sensor (config.ports.portN.enviro) nor the internal one "
               "(config.internals.internal1), so alerts cannot name it",
};

}  // namespace

extern const CheckType kEnviroCheck = {
    .name = "environmental",
    .domain = "enviro",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = threshold_on_event,
        .trigger_counter = enviro_counter_key,
        .describe_device = threshold_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = threshold_subscription_key,
        .snmp_args = threshold_snmp_args,
        .audit = threshold_check_audit,
    },
    .snmp_script = "environmental-alert",
    .settings = kEnviroSettings,
    .threshold = &kEnviroThreshold,
    .property = {.setting = kProperty},
    .trigger = {.setting = kTriggerVal},
};
