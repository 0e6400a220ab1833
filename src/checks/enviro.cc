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
    kProperty,
    kDevRef,
    {kTriggerVal, kHysteresis, kComparison},
    kReadings,
    std::size(kReadings),
    kSensors,
    std::size(kSensors),
    ".",                           // key_joint
    "Invalid check type for %s",  // no_property
    "Invalid check type for %s",  // unknown_property
    false,                        // names_property
    "environmental property",     // invalid_for_ar
    "set temp or humid",          // property_fix
    "a sensor reading",           // property_what
    "the rule watches %s, which no sensor publishes",
    "name the sensor, such as config.ports.port1.enviro",  // dev_ref_fix
    "sensor",                                              // plain_ref_what
    0,                                                     // plain_ref_depth
    " is neither a port's sensor (config.ports.portN.enviro) nor the internal one (config.internals.internal1), "
    "so alerts cannot name it",
};

}  // namespace

extern const CheckType kEnviroCheck;
const CheckType kEnviroCheck = {
    "environmental",  // name
    "enviro",         // domain
    true,             // has_resolve
    nullptr,          // on_change_flag
    {
        threshold_on_event,          // on_event
        enviro_counter_key,          // trigger_counter
        threshold_describe_device,   // describe_device
        describe_trigger_by_kind,    // describe_trigger
        threshold_subscription_key,  // subscription_key
        threshold_snmp_args,         // snmp_args
        threshold_check_audit,       // audit
        nullptr,                     // reply_to
    },
    "environmental-alert",  // snmp_script
    kEnviroSettings,        // settings
    &kEnviroThreshold,  // threshold
    {kProperty, nullptr},                  // property
    {kTriggerVal, nullptr},                // trigger
    {nullptr, nullptr, nullptr, nullptr},  // key
};
