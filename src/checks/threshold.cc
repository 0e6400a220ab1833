// Threshold comparisons and the decision they drive.
#include "checks/threshold.h"

#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

float parse_reading(const char* text) { return text != nullptr ? strtof(text, nullptr) : 0.0f; }

bool reading_number(const char* text, float* reading) {
  char* end = nullptr;
  *reading = strtof(text, &end);
  return end != text;
}

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

CheckOutcome threshold_outcome(const ArCheck* check, const Threshold& t, const std::string& value) {
  const char* path = check->conf.ar->path.c_str();
  float reading = 0;
  if (!reading_number(value.c_str(), &reading)) {
    return outcome_not_reading("Reading is not a number for AR %s: %s", check->conf.ar->name.c_str(), value.c_str());
  }
  CheckOutcome outcome;
  if (check->state == kArNormal) {
    if (threshold_triggers(t, reading)) {
      outcome = outcome_trigger("AR %s triggered. val %f vs trigger %f", path, static_cast<double>(reading),
                                static_cast<double>(t.trigger));
    }
  } else if (!threshold_resolves(t, reading)) {
    outcome = outcome_refresh();
  } else {
    outcome = outcome_resolve("ar %s resolving. val %f vs %f", path, static_cast<double>(reading),
                              static_cast<double>(t.trigger));
  }
  outcome.reading = true;
  return outcome;
}

void threshold_audit(const ArCheck* check, const ThresholdKeys& keys, AuditReport* report) {
  if (audit_required(check, keys.trigger_val, "the daemon discards every update of this rule; set the value that triggers",
                     report)) {
    audit_decimal_number(check, keys.trigger_val, report);
  }
  if (audit_required(check, keys.hysteresis, "the daemon discards every update of this rule; set it, 0 for none",
                     report)) {
    audit_decimal_number(check, keys.hysteresis, report);
  }
  const std::string comparison = check_setting(check, keys.comparison);
  if (!comparison.empty()) {
    audit_choice(report, audit_path(check, keys.comparison), comparison, {"greater", "lesser"}, "a comparison",
                 "the daemon reads it as greater");
  }
}
