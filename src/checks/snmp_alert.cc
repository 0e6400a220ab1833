// The shared parts of the SNMP alert arguments.
#include "checks/snmp_alert.h"

#include <ctime>

#include "base/clock.h"
#include "base/log.h"
#include "checks/snmp_fields.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// out when bit is in wanted, else null (the output is not wanted).
OptionalText* wanted_output(unsigned wanted, unsigned bit, OptionalText* out) {
  return (wanted & bit) != 0 ? out : nullptr;
}

// A wanted output that came back absent: false when it is required, else
// the empty text, so the slots after it keep their positions.
bool settle(unsigned wanted, unsigned required, unsigned bit, OptionalText* out) {
  if ((wanted & bit) == 0 || out->has_value()) return true;
  if ((required & bit) != 0) return false;
  *out = std::string();
  return true;
}

// The time of the event being reported, in milliseconds: the current
// event's, or now when the check has none (nothing the builder asked for
// needed one).
uint64_t event_time_ms(const ArCheck* check, Clock* clock) {
  if (check->current_event) return check->current_event->time_ms;
  const time_t now = clock != nullptr ? clock->wall_seconds() : time(nullptr);
  return now > 0 ? static_cast<uint64_t>(now) * 1000u : 0u;
}

// The state reported: rules without a resolve stage only ever report
// Triggered; otherwise the reference's state, -1 when it is none of the five.
int state_slot(const ArCheck* check) {
  if (!check->conf.ar->has_resolve) return kArTriggered;
  if (check->state >= kArNormal && check->state <= kArDisabled) return check->state;
  return -1;
}

}  // namespace

bool snmp_describe(const ArCheck* check, unsigned wanted, unsigned required, SnmpTexts* d) {
  const CheckOps* ops = check->conf.ops;
  if (ops == nullptr) return false;
  if ((wanted & kSnmpDeviceOutputs) != 0) {
    if (ops->describe_device == nullptr ||
        ops->describe_device(check, wanted_output(wanted, kSnmpDevice, &d->device),
                             wanted_output(wanted, kSnmpLabel, &d->label),
                             wanted_output(wanted, kSnmpDevRef, &d->dev_ref)) != 0)
      return false;
  }
  if ((wanted & kSnmpTriggerOutputs) != 0) {
    if (ops->describe_trigger == nullptr ||
        ops->describe_trigger(check, wanted_output(wanted, kSnmpValue, &d->value),
                              wanted_output(wanted, kSnmpProperty, &d->property),
                              wanted_output(wanted, kSnmpTrigger, &d->trigger)) != 0)
      return false;
  }
  return settle(wanted, required, kSnmpDevice, &d->device) && settle(wanted, required, kSnmpLabel, &d->label) &&
         settle(wanted, required, kSnmpDevRef, &d->dev_ref) && settle(wanted, required, kSnmpValue, &d->value) &&
         settle(wanted, required, kSnmpProperty, &d->property) &&
         settle(wanted, required, kSnmpTrigger, &d->trigger);
}

void snmp_alert_head(const ArCheck* check, Clock* clock, SnmpArgs* argv) {
  argv->push_back("snmp");
  argv->push_back(std::to_string(check->conf.ar->index));
  argv->push_back(std::to_string(check->conf.ref_index));
  argv->push_back(snmp_date_and_time(event_time_ms(check, clock)));
  argv->push_back(std::to_string(state_slot(check)));
}
