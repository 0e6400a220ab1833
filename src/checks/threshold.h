// Threshold with hysteresis, shared by the checks that compare a reading
// with a configured limit. Everything is single precision, as the
// appliance's sensors report it; a comparison with NaN is false, so a NaN
// reading never triggers and, once triggered, never resolves.
#pragma once

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

// Reads the threshold of check's rule; false, with the missing setting
// logged, when the trigger value or the hysteresis is absent or empty.
bool threshold_read(const ArCheck* check, const ThresholdKeys& keys, Threshold* threshold);

// Whether text begins with a number (strtof takes at least one character);
// the number into reading when it does.
bool reading_number(const char* text, float* reading);

// Decides on one update's value by the check's state: trigger in Normal,
// resolve or refresh in Triggered. A value with no leading number is no
// reading ("N/A" from a sensor that dropped out): it must neither trigger
// nor resolve, so it is dropped and reported.
CheckOutcome threshold_outcome(const ArCheck* check, const Threshold& threshold, const std::string& value);

// The audit of the three settings: a missing trigger value or hysteresis
// (every update is discarded), numbers with trailing text, and a comparison
// other than "greater" or "lesser" (read as greater).
void threshold_audit(const ArCheck* check, const ThresholdKeys& keys, AuditReport* report);
