// Threshold comparisons.
#include "checks/threshold.h"

#include <cstdlib>

float parse_reading(const char* text) { return text != nullptr ? strtof(text, nullptr) : 0.0f; }

bool threshold_triggers(const Threshold& t, float reading) {
  return t.lesser ? reading < t.trigger : reading > t.trigger;
}

bool threshold_resolves(const Threshold& t, float reading) {
  // volatile keeps each sum in single precision on every target.
  if (t.lesser) {
    const volatile float d = reading - t.hysteresis;
    return d >= t.trigger;
  }
  const volatile float s = t.hysteresis + reading;
  return s <= t.trigger;
}
