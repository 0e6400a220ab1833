// Threshold with hysteresis, shared by the checks that compare a reading
// with a configured limit, and the one module of the kinds that watch a
// device's numeric property against one (environmental sensors, power),
// driven by each kind's ThresholdKind. Everything is single precision, as the
// appliance's sensors report it; a comparison with NaN is false, so a NaN
// reading never triggers and, once triggered, never resolves.
#pragma once

#include <cstddef>

#include "checks/check_type.h"

struct ArCheck;

struct Threshold {
  float trigger = 0;     // T
  float hysteresis = 0;  // H
  bool lesser = false;   // trigger below T instead of above
};

// The three settings of a threshold check, under the rule's path.
struct ThresholdKeys {
  const char* trigger_val;
  const char* hysteresis;
  const char* comparison;
};

// A number with strtof semantics: leading text that is not a number is 0,
// trailing text is ignored.
float parse_reading(const char* text);

// Normal: V < T for the lesser kind, V > T otherwise (both strict).
bool threshold_triggers(const Threshold& t, float reading);

// Triggered: (V - H) >= T for the lesser kind, (H + V) <= T otherwise.
bool threshold_resolves(const Threshold& t, float reading);

// Reads the threshold of check's rule, whose path the caller has formed;
// false, with the missing setting logged, when the trigger value or the
// hysteresis is absent or empty.
bool threshold_read(const ArCheck* check, const char* path, const ThresholdKeys& keys, Threshold* threshold);

// Whether text begins with a number (strtof takes at least one character);
// the number into reading when it does.
bool reading_number(const char* text, float* reading);

// Decides on one update's value by the check's state: trigger in Normal,
// resolve or refresh in Triggered. A value with no leading number is no
// reading ("N/A" from a sensor that dropped out): it must neither trigger
// nor resolve, so it is dropped and reported.
CheckOutcome threshold_outcome(const ArCheck* check, const Threshold& threshold, const std::string& value);

// A property a threshold kind watches: its configurable names and the text
// an update's key must contain.
struct ThresholdProperty {
  const char* name;
  const char* short_name;  // another name for it; null for none
  const char* key_text;
};

// A kind of device a reference names, found by a text the reference
// contains; tried in order.
struct ThresholdDevice {
  const char* ref_text;
  const char* label;
  const char* device;         // the fixed display name, or the default one
  bool uses_configured_name;  // the "name" under the reference wins when set
  const char* what;           // the device for `arctl check` ("port", "UPS")
};

// What one threshold kind is made of: its settings, tables and texts.
struct ThresholdKind {
  const char* property_key;  // the setting naming the property ("enviro.check_type")
  const char* dev_ref_key;   // the setting naming the device
  ThresholdKeys keys;
  const ThresholdProperty* properties;
  size_t property_count;
  const ThresholdDevice* devices;
  size_t device_count;
  // The subscription key is the device's reference, this and the
  // property's name.
  const char* key_joint;
  // Logged with the rule's path when the property is not set.
  const char* no_property;
  // Logged when the property is none of the table's: with the property's
  // name and the rule's path when names_property, else the path alone.
  const char* unknown_property;
  bool names_property;
  const char* invalid_for_ar;  // "Invalid <this> for AR: <name>" without a subscription
  // `arctl check`: how to fix a missing property, what a property is, and
  // what follows from another one ("%s" the key then watched, when used).
  const char* property_fix;
  const char* property_what;
  const char* property_consequence;
  // How to fix a missing device; the device a reference outside "config."
  // is taken for, and how much of it must exist; what else a reference
  // inside it is not.
  const char* dev_ref_fix;
  const char* plain_ref_what;
  size_t plain_ref_depth;
  const char* neither;
};

// The operations of every threshold kind, reading the kind from the rule.
CheckOutcome threshold_on_event(const ArCheck* check, const CheckEvent& event);
int threshold_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref);
int threshold_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason);
// Device, label, property, the reading as a whole number, trigger value, comparison.
int threshold_snmp_args(const ArCheck* check, std::vector<std::string>* args);
void threshold_check_audit(const ArCheck* check, AuditReport* report);

// The audit of the three settings: a missing trigger value or hysteresis
// (every update is discarded), numbers with trailing text, and a comparison
// other than "greater" or "lesser" (read as greater).
void threshold_audit(const ArCheck* check, const ThresholdKeys& keys, AuditReport* report);
