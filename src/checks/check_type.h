// The check framework: what a check decides (CheckOutcome), the CheckOps
// every check module provides, the CheckType table, and the conventions the
// modules share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class AuditReport;
struct ArCheck;
struct CheckEvent;

using OptionalText = std::optional<std::string>;

// What one update means for a reference. The engine applies it
// (ar_apply): the state change, its log line and its publication.
enum class CheckOutcomeKind {
  kDrop,     // nothing happens
  kTrigger,  // to Triggered (again, for checks that trigger on every change)
  kResolve,  // to Resolving
  kRefresh,  // still Triggered: only the current value is published
  // The update holds no reading at all (a sensor that dropped out reports
  // "N/A"): nothing happens, and the reason is logged as a warning once
  // per reference until a reading comes again.
  kNotReading,
};

struct CheckOutcome {
  CheckOutcomeKind kind = CheckOutcomeKind::kDrop;
  std::string reason;  // the information line logged with it; empty for none
  bool reading = false;  // the update held a reading (checks that read numbers)
};

// "drop", "trigger", "resolve", "refresh" or "not a reading".
const char* check_outcome_name(CheckOutcomeKind kind);

CheckOutcome outcome_drop();
CheckOutcome outcome_refresh();
CheckOutcome outcome_trigger(const char* format, ...) __attribute__((format(printf, 1, 2)));
CheckOutcome outcome_resolve(const char* format, ...) __attribute__((format(printf, 1, 2)));
CheckOutcome outcome_not_reading(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The operations of one kind of check. None of them changes the ArCheck.
struct CheckOps {
  // Evaluates one update of a Normal or Triggered reference against the
  // rule's settings and the reference's state. Problems of the
  // configuration are logged here; the decision is only returned.
  CheckOutcome (*on_event)(const ArCheck* check, const CheckEvent& event);
  // Checks that count their triggers in infod: the counter's key for the
  // key of the update; -1 (logged) when it has none. The engine asks for
  // the count once a trigger has been applied; null for checks that do
  // not count.
  int (*trigger_counter)(const std::string& key, std::string* counter_key);
  // Names the watched device: display name, a second label and the device's
  // configuration reference. A null output is not wanted; an output left
  // unset has no value. 0 success, -1 failure (no outputs then).
  int (*describe_device)(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref);
  // Describes the condition: the current value, what is measured and the
  // configured trigger. -1 without a current event.
  int (*describe_trigger)(const ArCheck* check, OptionalText* value, OptionalText* property,
                          OptionalText* trigger);
  // Builds the key the check listens to; non-zero (reason logged by the
  // module) when the configuration does not allow one.
  int (*subscription_key)(const ArCheck* check, std::string* key);
  // The SNMP alert script of the kind, in the scripts directory; null when
  // the kind has none.
  const char* snmp_script;
  // The script's arguments after the five shared ones (snmp_alert.h): 0
  // made, 1 the event is not to be reported, -1 failure.
  int (*snmp_args)(const ArCheck* check, std::vector<std::string>* args);
  // Offline, for `arctl check`: reports what is wrong with the settings of
  // the check's rule and reference (checks/audit.h): settings that leave
  // the reference without a subscription or make every update be
  // discarded, values the daemon would read as something else, devices the
  // configuration does not hold. Logs nothing; null when there is nothing
  // to audit.
  void (*audit)(const ArCheck* check, AuditReport* report);
};

enum CheckTypeId : int32_t {
  kCheckNone = 0,
  kCheckEnviro = 1,
  kCheckPower = 2,
  kCheckUpsState = 3,
  kCheckAlarm = 4,
  kCheckSerialSignal = 5,
  kCheckSerialLogin = 6,
  kCheckSerialPattern = 7,
  kCheckNetPing = 8,
  kCheckNetTcp = 9,
  kCheckSms = 10,
  kCheckCelldata = 11,
  kCheckCustom = 12,
  kCheckWebuiLogin = 14,
  kCheckNetInterface = 15,
  kCheckRouteddata = 16,
  kCheckUsbConsole = 17,
  kCheckCliLogin = 18,
};

// One kind of check: everything the daemon knows about it.
struct CheckType {
  int32_t id;
  const char* name;            // the rule's "check_type" text
  const char* domain;          // its settings under the rule ("%s.dev_refs.total")
  bool has_resolve;            // whether the rule has a resolve stage
  const char* on_change_flag;  // a flag that, when on, takes the resolve stage away
  const CheckOps* ops;         // null: no check module exists
};

// Ends with a row whose name is null.
extern const CheckType kCheckTypes[];

// The row of id; null when there is none.
const CheckType* check_type_find(int32_t id);

// The row whose name equals name; null when none does.
const CheckType* check_type_named(const char* name);

// --- Conventions shared by the check modules -------------------------------

// A setting of the check's rule: prefix.key under the rule's path, read
// afresh (never null, "" when absent).
const char* check_setting(const ArCheck* check, const char* key);
int32_t check_setting_size(const ArCheck* check, const char* key);
bool check_setting_flag(const ArCheck* check, const char* key);

// Any setting, under an explicit prefix.
const char* check_setting_at(const ArCheck* check, const char* prefix, const char* key);

// A number in an update value or a string setting: leading blanks, an
// optional sign, digits up to the first non-digit; no number reads as 0.
// Values beyond the 32-bit range are clamped.
int32_t leading_int(const char* text);

// Stores text in an output the caller wants.
void set_output(OptionalText* out, std::string text);

// The current event's value into out; false when there is no current event.
bool current_value(const ArCheck* check, OptionalText* out);

// The decision of the checks that only trigger: a Normal reference
// triggers ("AR %s triggered. val %s"), anything else is dropped.
CheckOutcome trigger_when_normal(const ArCheck* check, const CheckEvent& event);
