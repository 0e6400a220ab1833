// Threshold comparisons, the decision they drive, and the operations of
// the kinds built on them.
#include "checks/threshold.h"

#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/snmp_alert.h"
#include "checks/snmp_fields.h"
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

bool threshold_read(const ArCheck* check, const char* path, const ThresholdKeys& keys, Threshold* threshold) {
  const char* trigger_val = check_setting_at(check, path, keys.trigger_val);
  if (trigger_val[0] == '\0') {
    ar_log(kLogFatal, "Could not find trigger value for %s", path);
    return false;
  }
  threshold->trigger = parse_reading(trigger_val);
  const char* hysteresis = check_setting_at(check, path, keys.hysteresis);
  if (hysteresis[0] == '\0') {
    ar_log(kLogFatal, "Could not find hysteresis value for %s", path);
    return false;
  }
  threshold->hysteresis = parse_reading(hysteresis);
  threshold->lesser = strcmp(check_setting_at(check, path, keys.comparison), "lesser") == 0;
  return true;
}

CheckOutcome threshold_outcome(const ArCheck* check, const Threshold& t, const std::string& value) {
  float reading = 0;
  if (!reading_number(value.c_str(), &reading)) {
    return outcome_not_reading("Reading is not a number for AR %s: %s", check->conf.ar->name.c_str(), value.c_str());
  }
  CheckOutcome outcome;
  if (check->state == kArNormal) {
    if (threshold_triggers(t, reading)) {
      outcome = outcome_trigger("AR %s triggered. val %f vs trigger %f", check->conf.ar->path().c_str(),
                                static_cast<double>(reading), static_cast<double>(t.trigger));
    }
  } else if (!threshold_resolves(t, reading)) {
    outcome = outcome_refresh();
  } else {
    outcome = outcome_resolve("ar %s resolving. val %f vs %f", check->conf.ar->path().c_str(),
                              static_cast<double>(reading), static_cast<double>(t.trigger));
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

// --- The threshold kinds ------------------------------------------------------

namespace {

const ThresholdKind& kind_of(const ArCheck* check) { return *check->conf.ar->kind->threshold; }

// The property named by name, by its name before any other's short one;
// null when none.
const ThresholdProperty* find_property(const ThresholdKind& kind, const char* name) {
  for (size_t i = 0; i < kind.property_count; ++i) {
    const ThresholdProperty& p = kind.properties[i];
    if (strcmp(name, p.name) == 0) return &p;
    if (p.short_name != nullptr && strcmp(name, p.short_name) == 0) return &p;
  }
  return nullptr;
}

// The kind of device ref names; null when none.
const ThresholdDevice* find_device(const ThresholdKind& kind, const std::string& ref) {
  for (size_t i = 0; i < kind.device_count; ++i) {
    if (ref.find(kind.devices[i].ref_text) != std::string::npos) return &kind.devices[i];
  }
  return nullptr;
}

}  // namespace

CheckOutcome threshold_on_event(const ArCheck* check, const CheckEvent& event) {
  const ThresholdKind& kind = kind_of(check);
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  const std::string name = check_setting_at(check, path, kind.property_key);
  if (name.empty()) ar_log(kLogFatal, kind.no_property, path);
  // A misconfigured rule discards its updates; it must not end the daemon
  // and with it every other rule's monitoring.
  Threshold threshold;
  if (!threshold_read(check, path, kind.keys, &threshold)) return outcome_drop();
  const ThresholdProperty* property = find_property(kind, name.c_str());
  if (property == nullptr) {
    if (kind.names_property) {
      ar_log(kLogFatal, kind.unknown_property, name.c_str(), path);
    } else {
      ar_log(kLogFatal, kind.unknown_property, path);
    }
    return outcome_drop();
  }
  if (event.key.find(property->key_text) == std::string::npos) return outcome_drop();
  return threshold_outcome(check, threshold, event.value);
}

int threshold_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  const ThresholdKind& kind = kind_of(check);
  const std::string ref = check_setting(check, kind.dev_ref_key);
  if (ref.empty()) {
    ar_log(kLogFatal, "Could not get ref from ar %s", check->conf.ar->path().c_str());
    return -1;
  }
  const ThresholdDevice* found = find_device(kind, ref);
  if (found == nullptr) return -1;
  std::string name;
  if (found->uses_configured_name) name = check_setting_at(check, ref.c_str(), "name");
  set_output(device, name.empty() ? found->device : name);
  set_output(label, found->label);
  set_output(dev_ref, ref);
  return 0;
}

int threshold_subscription_key(const ArCheck* check, std::string* key, CheckReason* reason) {
  const ThresholdKind& kind = kind_of(check);
  const std::string name = check_setting(check, kind.property_key);
  const std::string dev_ref = check_setting(check, kind.dev_ref_key);
  if (name.empty() || dev_ref.empty()) {
    return refuse_settings(reason, kLogFatal, "Invalid %s for AR: %s", kind.invalid_for_ar,
                           check->conf.ar->name.c_str());
  }
  if (key == nullptr) return 0;
  // Updates always carry a property's name, so a short name subscribes
  // with it or the rule would never hear of its property. A name outside
  // the table is kept as configured; on_event reports it.
  const ThresholdProperty* property = find_property(kind, name.c_str());
  *key = dev_ref + kind.key_joint + (property != nullptr ? property->name : name);
  return 0;
}

int threshold_snmp_args(const ArCheck* check, std::vector<std::string>* args) {
  const ThresholdKind& kind = kind_of(check);
  SnmpTexts d;
  const unsigned outputs = kSnmpDevice | kSnmpLabel | kSnmpValue | kSnmpProperty;
  if (!snmp_describe(check, outputs, outputs, &d)) return -1;
  const std::string trigger_val = check_setting(check, kind.keys.trigger_val);
  if (trigger_val.empty()) {
    ar_log(kLogFatal, "Could not find trigger value for %s", check->conf.ar->path().c_str());
    return -1;
  }
  const std::string comparison = check_setting(check, kind.keys.comparison);
  args->insert(args->end(), {*d.device, *d.label, *d.property, std::to_string(snmp_value_int(*d.value)),
                             trigger_val, comparison});
  return 0;
}

void threshold_check_audit(const ArCheck* check, AuditReport* report) {
  const ThresholdKind& kind = kind_of(check);
  const std::string name = check_setting(check, kind.property_key);
  const std::string ref = check_setting(check, kind.dev_ref_key);
  if (audit_required(check, kind.property_key, no_subscription(kind.property_fix), report) &&
      find_property(kind, name.c_str()) == nullptr) {
    std::vector<std::string> names;
    for (size_t i = 0; i < kind.property_count; ++i) names.emplace_back(kind.properties[i].name);
    std::string consequence = kind.property_consequence;
    const size_t watched = consequence.find("%s");
    if (watched != std::string::npos) {
      consequence.replace(watched, 2, (ref.empty() ? "its dev_ref" : ref) + kind.key_joint + name);
    }
    audit_choice(report, audit_path(check, kind.property_key), name, names, kind.property_what, consequence);
  }
  if (audit_required(check, kind.dev_ref_key, no_subscription(kind.dev_ref_fix), report)) {
    const ThresholdDevice* device = find_device(kind, ref);
    if (device != nullptr) {
      audit_device(check, kind.dev_ref_key, 3, device->what, report);
    } else if (ref.compare(0, 7, "config.") != 0) {
      audit_device(check, kind.dev_ref_key, kind.plain_ref_depth, kind.plain_ref_what, report);
    } else {
      report->warning(audit_path(check, kind.dev_ref_key), quoted(ref) + kind.neither);
    }
  }
  threshold_audit(check, kind.keys, report);
}
