// The "snmp" action: runs the appliance's SNMP alert script for the rule's
// kind of check, with positional arguments that describe the event. The
// scripts read their arguments by position, so every row's builder keeps
// each slot in place even when a text it asked for is missing.
#include <ctime>
#include <string>
#include <vector>

#include "actions/action_ops.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "actions/snmp_fields.h"
#include "checks/check_type.h"
#include "core/clock.h"
#include "core/paths.h"

namespace {

using Args = std::vector<std::string>;

// Fills slot 1 onward (slot 0, the script's name, is set): 0 filled, 1 the
// event is not to be reported, -1 failure (the slots are then discarded).
using ArgumentBuilder = int (*)(ArCheck* check, Args* argv);

// One alert script: the "check_type" it serves, its name in the scripts
// directory and its argument builder.
struct SnmpAlertScript {
  const char* check_type;
  const char* script;
  ArgumentBuilder build;
};

// The label of a CLI service in the alert; services without one are not
// reported.
struct CliServiceLabel {
  const char* service;
  const char* label;
};

// For "LOGIN" and "LOGOUT" events.
const CliServiceLabel kCliLoginLabels[] = {
    {"sshd", "SSH Service"},
    {"login", "CLI Shell"},
    {nullptr, nullptr},
};

// For "AUTH ERROR" events.
const CliServiceLabel kCliErrorLabels[] = {
    {"sshd", "SSH Service"},
    {"login", "Login Prompt"},
    {nullptr, nullptr},
};

// The outputs of the check's describing operations, as a set of bits.
enum Output : unsigned {
  kDevice = 1u << 0,
  kLabel = 1u << 1,
  kDevRef = 1u << 2,
  kValue = 1u << 3,
  kProperty = 1u << 4,
  kTrigger = 1u << 5,
};

constexpr unsigned kDeviceOutputs = kDevice | kLabel | kDevRef;
constexpr unsigned kTriggerOutputs = kValue | kProperty | kTrigger;

// The texts a builder got; every one it asked for holds a text afterwards.
struct CheckTexts {
  OptionalText device, label, dev_ref, value, property, trigger;
};

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

// Asks the check for the outputs in wanted; false when an operation fails
// or an output in required is absent.
bool describe(ArCheck* check, unsigned wanted, unsigned required, CheckTexts* d) {
  const CheckOps* ops = check->conf.ops;
  if (ops == nullptr) return false;
  if ((wanted & kDeviceOutputs) != 0) {
    if (ops->describe_device == nullptr ||
        ops->describe_device(check, wanted_output(wanted, kDevice, &d->device),
                             wanted_output(wanted, kLabel, &d->label),
                             wanted_output(wanted, kDevRef, &d->dev_ref)) != 0)
      return false;
  }
  if ((wanted & kTriggerOutputs) != 0) {
    if (ops->describe_trigger == nullptr ||
        ops->describe_trigger(check, wanted_output(wanted, kValue, &d->value),
                              wanted_output(wanted, kProperty, &d->property),
                              wanted_output(wanted, kTrigger, &d->trigger)) != 0)
      return false;
  }
  return settle(wanted, required, kDevice, &d->device) && settle(wanted, required, kLabel, &d->label) &&
         settle(wanted, required, kDevRef, &d->dev_ref) && settle(wanted, required, kValue, &d->value) &&
         settle(wanted, required, kProperty, &d->property) && settle(wanted, required, kTrigger, &d->trigger);
}

// A setting under the rule's path, copied out of the database.
std::string rule_setting(const ArCheck* check, const char* key) {
  return xmldb_getstring(check->conf.ar->config_db, check->conf.ar->path.c_str(), key);
}

// The time of the event being reported, in milliseconds: the current
// event's, or now when the check has none (nothing the builder asked for
// needed one).
uint64_t event_time_ms(const ArCheck* check) {
  if (check->current_event) return check->current_event->time_ms;
  Clock* clock = check->conf.ar->daemon->clock;
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

// Slots 1 to 5, shared by every builder.
void add_head(const ArCheck* check, Args* argv) {
  argv->push_back("snmp");
  argv->push_back(std::to_string(check->conf.ar->index));
  argv->push_back(std::to_string(check->conf.ref_index));
  argv->push_back(snmp_date_and_time(event_time_ms(check)));
  argv->push_back(std::to_string(state_slot(check)));
}

// Sensor and power readings: the device, what is measured, the reading as
// a whole number and the configured threshold under domain.
int build_reading(ArCheck* check, Args* argv, const std::string& domain) {
  CheckTexts d;
  const unsigned outputs = kDevice | kLabel | kValue | kProperty;
  if (!describe(check, outputs, outputs, &d)) return -1;
  const std::string trigger_val = rule_setting(check, (domain + ".trigger_val").c_str());
  if (trigger_val.empty()) {
    ar_log(kLogFatal, "Could not find trigger value for %s", check->conf.ar->path.c_str());
    return -1;
  }
  const std::string comparison = rule_setting(check, (domain + ".comparison").c_str());
  add_head(check, argv);
  argv->insert(argv->end(), {*d.device, *d.label, *d.property, std::to_string(snmp_value_int(*d.value)),
                             trigger_val, comparison});
  return 0;
}

int build_environmental(ArCheck* check, Args* argv) { return build_reading(check, argv, "enviro"); }

int build_power(ArCheck* check, Args* argv) { return build_reading(check, argv, "power"); }

int build_alarm(ArCheck* check, Args* argv) {
  CheckTexts d;
  const unsigned outputs = kDevice | kLabel | kValue;
  if (!describe(check, outputs, outputs, &d)) return -1;
  std::string validated = *d.value;
  if (validated != "0" && validated != "1") {
    ar_log(kLogError, "DIO value should be 0 or 1: %s", d.value->c_str());
    validated = "-1";
  }
  add_head(check, argv);
  argv->insert(argv->end(), {*d.label, *d.value, validated, *d.device});
  return 0;
}

int build_serial_pattern(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kDevRef | kValue, kDevice | kValue, &d)) return -1;
  add_head(check, argv);
  argv->insert(argv->end(),
               {check->conf.ar->name, std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *d.value});
  return 0;
}

int build_serial_signal(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kDevRef | kValue | kProperty | kTrigger, kDevice | kValue | kProperty, &d))
    return -1;
  add_head(check, argv);
  argv->insert(argv->end(),
               {std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *d.property, *d.value, *d.trigger});
  return 0;
}

int build_serial_login(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kDevRef | kValue, kDevice | kValue, &d)) return -1;
  // "LOGIN: root" gives LOGIN and root.
  FieldCursor words(*d.value);
  const std::optional<std::string> first = split_fields(&words, ": ");
  const std::optional<std::string> second = split_fields(&words, " ");
  if (!first || !second) return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*first, std::to_string(snmp_port_number(*d.dev_ref)), *d.device, *second});
  return 0;
}

int build_ups_status(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kValue, kDevice | kValue, &d)) return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*d.device, *d.value});
  return 0;
}

int build_celldata(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kValue, kDevice | kValue, &d)) return -1;
  const std::string period = rule_setting(check, "celldata.data_period");
  const std::string limit = rule_setting(check, "celldata.data_limit");
  if (period.empty() || limit.empty()) return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*d.device, *d.value, period, limit});
  return 0;
}

int build_ping(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDevice | kDevRef | kValue | kProperty | kTrigger, kDevice | kValue | kProperty, &d))
    return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*d.device, *d.property, *d.value, *d.trigger});
  return 0;
}

int build_custom(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kValue | kTrigger, kValue, &d)) return -1;
  const std::string script = rule_setting(check, "custom.script");
  add_head(check, argv);
  argv->insert(argv->end(), {script, *d.value, *d.trigger});
  return 0;
}

int build_sms(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kTriggerOutputs, kTriggerOutputs, &d)) return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*d.value, *d.property, *d.trigger});
  return 0;
}

int build_webui_login(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kTriggerOutputs, kValue | kProperty, &d)) return -1;
  const WebLoginFields fields = parse_web_login(*d.value);
  add_head(check, argv);
  argv->insert(argv->end(), {fields.event, fields.user, fields.address, fields.detail});
  return 0;
}

int build_interface(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kDeviceOutputs | kTriggerOutputs, kDevice | kLabel | kValue, &d)) return -1;
  add_head(check, argv);
  argv->insert(argv->end(), {*d.device, *d.label, *d.property, *d.value, *d.trigger});
  return 0;
}

// The label of service in table; null when the service has none.
const char* cli_label(const CliServiceLabel* table, const std::optional<std::string>& service) {
  if (table == nullptr || !service) return nullptr;
  for (const CliServiceLabel* row = table; row->service != nullptr; ++row) {
    if (*service == row->service) return row->label;
  }
  return nullptr;
}

// CLI events are reported only for the known services, and not for the
// appliance's own port-manager shell.
int build_cli_login(ArCheck* check, Args* argv) {
  CheckTexts d;
  if (!describe(check, kTriggerOutputs, kValue | kProperty, &d)) return -1;
  const CliLoginFields fields = parse_cli_login(*d.value);
  const CliServiceLabel* table = nullptr;
  if (fields.event == "LOGIN" || fields.event == "LOGOUT") {
    table = kCliLoginLabels;
  } else if (fields.event == "AUTH ERROR") {
    table = kCliErrorLabels;
  }
  const char* label = cli_label(table, fields.service);
  if (label == nullptr || (fields.program && *fields.program == "/bin/pmshell")) {
    ar_log(kLogInfo, "Filtering CLI event %s for service %s", fields.event.c_str(),
           fields.service ? fields.service->c_str() : "");
    return 1;
  }
  add_head(check, argv);
  argv->insert(argv->end(), {fields.event, fields.user, label, fields.rest});
  return 0;
}

// The alert script of each kind of check; "usb_console_status",
// "routeddata" and "net_tcp" have none.
const SnmpAlertScript kSnmpAlertScripts[] = {
    {"environmental", "environmental-alert", build_environmental},
    {"alarm", "dio-alert", build_alarm},
    {"power", "power-alert", build_power},
    {"serial_pattern", "portmanager-pattern-alert", build_serial_pattern},
    {"serial_signal", "portmanager-signal-alert", build_serial_signal},
    {"serial_login", "portmanager-user-alert", build_serial_login},
    {"ups_status", "ups-status-alert", build_ups_status},
    {"celldata", "devlog-data-alert", build_celldata},
    {"net_ping", "host-alert", build_ping},
    {"custom", "custom-alert", build_custom},
    {"sms", "sms-alert", build_sms},
    {"webui_login", "webui-user-alert", build_webui_login},
    {"conman", "network-interface-alert", build_interface},
    {"cli_login", "cli-user-alert", build_cli_login},
    {nullptr, nullptr, nullptr},
};

const SnmpAlertScript* find_alert_script(const std::string& check_type) {
  for (const SnmpAlertScript* row = kSnmpAlertScripts; row->check_type != nullptr; ++row) {
    if (check_type == row->check_type) return row;
  }
  return nullptr;
}

}  // namespace

int queue_snmp_action(ArCheck* check, const Action& action, ActionStatus* status) {
  DaemonContext* ctx = check->conf.ar->daemon;
  const std::string check_type = rule_setting(check, "check_type");
  const SnmpAlertScript* row = find_alert_script(check_type);
  if (row == nullptr) {
    ar_log(kLogFatal, "No snmp alert script for %s checks", check_type.c_str());
    return -1;
  }

  Args argv{row->script};
  const int built = row->build(check, &argv);
  if (built == 1) {
    ar_log(kLogDebug, "SNMP action skipped by handler");
    return 1;
  }
  if (built != 0) {
    ar_log(kLogFatal, "Error generating script arguments");
    return -1;
  }

  const int result = queue_action(check, action, path_in(ctx->paths->scripts_dir, row->script), argv, {}, 0);
  return action_queued(result, status, "Could not execute action: %s", action.name);
}
