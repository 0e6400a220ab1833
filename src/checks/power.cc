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
    kProperty,
    kDevRef,
    {kTriggerVal, kHysteresis, kComparison},
    kProperties,
    std::size(kProperties),
    kDevices,
    std::size(kDevices),
    ".status.",                                // key_joint
    "Invalid check type: %s.power.check_type",  // no_property
    "Invalid check type: %s for %s",            // unknown_property
    true,                                       // names_property
    "power property",                           // invalid_for_ar
    "set a property such as battery.charge",    // property_fix
    "a UPS property",                           // property_what
    "the daemon discards every update of this rule",
    "name the UPS, such as config.ups.ups1",  // dev_ref_fix
    "UPS",                                    // plain_ref_what
    3,                                        // plain_ref_depth
    " is neither a UPS (config.ups...) nor a power supply (config.powersupplies...), so alerts cannot name it",
};

}  // namespace

extern const CheckType kPowerCheck;
const CheckType kPowerCheck = {
    "power",  // name
    "power",  // domain
    true,     // has_resolve
    nullptr,  // on_change_flag
    {
        threshold_on_event,          // on_event
        nullptr,                     // trigger_counter
        threshold_describe_device,   // describe_device
        describe_trigger_by_kind,    // describe_trigger
        threshold_subscription_key,  // subscription_key
        threshold_snmp_args,         // snmp_args
        threshold_check_audit,       // audit
        nullptr,                     // reply_to
    },
    "power-alert",   // snmp_script
    kPowerSettings,  // settings
    &kPowerThreshold,  // threshold
    {kProperty, nullptr},                  // property
    {kTriggerVal, nullptr},                // trigger
    {nullptr, nullptr, nullptr, nullptr},  // key
};
