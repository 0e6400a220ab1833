// Power check: one numeric property of a UPS or an internal power supply
// against a threshold with hysteresis (checks/threshold.h), with its own
// property and device tables and no trigger counter.
#include <iterator>

#include "checks/check_type.h"
#include "checks/threshold.h"

namespace {

constexpr const char* kProperty = "power.check_type";
constexpr const char* kDevRef = "power.dev_ref";
constexpr const char* kTriggerVal = "power.trigger_val";
constexpr const char* kHysteresis = "power.hysteresis";
constexpr const char* kComparison = "power.comparison";

const char* const kPowerSettings[] = {kProperty, kDevRef, kTriggerVal, kHysteresis, kComparison, nullptr};

// "temp" has no short name.
const ThresholdProperty kProperties[] = {
    {"input.voltage", "voltage", "status.input.voltage"},
    {"battery.charge", "charge", "status.battery.charge"},
    {"output.load", "load", "status.output.load"},
    {"input.frequency", "frequency", "status.input.frequency"},
    {"output.current", "current", "status.output.current"},
    {"temp", nullptr, "status.temp"},
};

const ThresholdDevice kDevices[] = {
    {"config.ups", "UPS", "UPS", true, "UPS"},
    {"config.powersupplies", "Sensor enabled internal power supply", "Power Supply", false, "power supply"},
};

const ThresholdKind kPowerThreshold = {
    .property_key = kProperty,
    .dev_ref_key = kDevRef,
    .keys = {.trigger_val = kTriggerVal, .hysteresis = kHysteresis, .comparison = kComparison},
    .properties = kProperties,
    .property_count = std::size(kProperties),
    .devices = kDevices,
    .device_count = std::size(kDevices),
    .key_joint = ".status.",
    .no_property = "Invalid check type: %s.power.check_type",
    .unknown_property = "Invalid check type: %s for %s",
    .names_property = true,
    .invalid_for_ar = "power property",
    .property_fix = "set a property such as battery.charge",
    .property_what = "a UPS property",
    .property_consequence = "the daemon discards every update of this rule",
    .dev_ref_fix = "name the UPS, such as config.ups.ups1",
    .plain_ref_what = "UPS",
    .plain_ref_depth = 3,
    .neither =
        " is neither a UPS (config.ups...) nor a power supply (config.powersupplies...), so alerts cannot name it",
};

}  // namespace

extern const CheckType kPowerCheck = {
    .name = "power",
    .domain = "power",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = threshold_on_event,
        .describe_device = threshold_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = threshold_subscription_key,
        .snmp_args = threshold_snmp_args,
        .audit = threshold_check_audit,
    },
    .snmp_script = "power-alert",
    .settings = kPowerSettings,
    .threshold = &kPowerThreshold,
    .property = {.setting = kProperty},
    .trigger = {.setting = kTriggerVal},
};
