// Threshold comparisons and the decision they drive.
#include "checks/threshold.h"

#include <cstdlib>
#include <cstring>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"

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

bool threshold_read(const ArCheck* check, const ThresholdKeys& keys, Threshold* threshold) {
  const char* path = check->conf.ar->path.c_str();
  const char* trigger_val = check_setting(check, keys.trigger_val);
  if (trigger_val[0] == '\0') {
    ar_log(kLogFatal, "Could not find trigger value for %s", path);
    return false;
  }
  threshold->trigger = parse_reading(trigger_val);
  const char* hysteresis = check_setting(check, keys.hysteresis);
  if (hysteresis[0] == '\0') {
    ar_log(kLogFatal, "Could not find hysteresis value for %s", path);
    return false;
  }
  threshold->hysteresis = parse_reading(hysteresis);
  threshold->lesser = strcmp(check_setting(check, keys.comparison), "lesser") == 0;
  return true;
}

int threshold_apply(ArCheck* check, CheckEventPtr event, const Threshold& t, float reading, bool* triggered) {
  const char* path = check->conf.ar->path.c_str();
  *triggered = false;
  switch (check->state) {
    case kArNormal:
      if (threshold_triggers(t, reading)) {
        ar_log(kLogInfo, "AR %s triggered. val %f vs trigger %f", path, static_cast<double>(reading),
               static_cast<double>(t.trigger));
        ar_trigger(check, std::move(event));
        *triggered = true;
      }
      return 0;
    case kArTriggered:
      if (threshold_resolves(t, reading)) {
        ar_log(kLogInfo, "ar %s resolving. val %f vs %f", path, static_cast<double>(reading),
               static_cast<double>(t.trigger));
        ar_resolve(check, std::move(event));
        return 0;
      }
      return ar_refresh(check, std::move(event));
    default:
      return 0;
  }
}
