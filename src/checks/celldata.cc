// Cellular data check: relays the verdict of the modem's traffic counter,
// which publishes "TRIGGER" or "RESOLVE" alerts under the rule's path.
#include "checks/celldata.h"

#include <string>

#include "checks/check_type.h"
#include "checks/snmp_alert.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kCellDevice = "celldata.cell_device";
constexpr const char* kDataLimit = "celldata.data_limit";

constexpr const char* kDataPeriod = "celldata.data_period";

}  // namespace

bool celldata_says_trigger(const std::string& alert) { return alert.find("TRIGGER") != std::string::npos; }

bool celldata_says_resolve(const std::string& alert) { return alert.find("RESOLVE") != std::string::npos; }

std::optional<std::string> celldata_alert_bytes(const std::string& alert) {
  const size_t first = alert.find(':');
  if (first == std::string::npos) return std::nullopt;
  const size_t end = alert.find(':', first + 1);
  return alert.substr(first + 1, end == std::string::npos ? std::string::npos : end - first - 1);
}

namespace {

CheckOutcome celldata_on_event(const ArCheck* check, const CheckEvent& event) {
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  if (check->state == kArNormal) {
    if (!celldata_says_trigger(event.value)) return outcome_drop();
    return outcome_trigger("AR %s triggered. val %s received", path, event.value.c_str());
  }
  if (!celldata_says_resolve(event.value)) return outcome_refresh();
  return outcome_resolve("AR %s resolving. val %s received", path, event.value.c_str());
}

int celldata_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  set_output(device, check_setting(check, kCellDevice));
  set_output(label, "Cellular Modem");
  set_output(dev_ref, "N/A");
  return 0;
}

int celldata_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!check->current_event) return -1;
  // An alert without a byte count leaves the value without one.
  if (std::optional<std::string> bytes = celldata_alert_bytes(check->current_event->value)) {
    set_output(value, std::move(*bytes));
  }
  set_output(property, "Bytes");
  set_output(trigger, check_setting(check, kDataLimit));
  return 0;
}

// Device, byte count, the configured period and limit (both required).
int celldata_snmp_args(const ArCheck* check, SnmpArgs* args) {
  SnmpTexts d;
  if (!snmp_describe(check, kSnmpDevice | kSnmpValue, kSnmpDevice | kSnmpValue, &d)) return -1;
  const std::string period = check_setting(check, kDataPeriod);
  const std::string limit = check_setting(check, kDataLimit);
  if (period.empty() || limit.empty()) return -1;
  args->insert(args->end(), {*d.device, *d.value, period, limit});
  return 0;
}

const char* const kCelldataSettings[] = {kCellDevice, kDataLimit, kDataPeriod, nullptr};

}  // namespace

extern const CheckType kCelldataCheck = {
    .name = "celldata",
    .domain = "celldata",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = celldata_on_event,
        .describe_device = celldata_describe_device,
        .describe_trigger = celldata_describe_trigger,
        .subscription_key = subscription_key_by_kind,
        .snmp_args = celldata_snmp_args,
    },
    .snmp_script = "devlog-data-alert",
    .settings = kCelldataSettings,
    .key = {.joint = ".celldata.alert"},
};
