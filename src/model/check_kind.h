// A kind of check as the rules name it: what a check decides
// (CheckOutcome), the operations every check module provides (CheckOps),
// and the kind's one descriptor (CheckType), which each module file
// defines and the list in checks/check_type.cc references.
#pragma once

#include <optional>
#include <string>
#include <vector>

class AuditReport;
struct ArCheck;
struct CheckEvent;
struct ThresholdKind;

using OptionalText = std::optional<std::string>;

// A module's reason for refusing a reference's settings: the line the
// daemon logs, at the log priority given (base/log.h).
struct CheckReason {
  int priority = 0;
  std::string text;  // empty: the module gave no reason
};

// What one update means for a reference. The engine applies it
// (reference_apply): the state change, its log line and its publication.
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

// The operations of one kind of check. None of them changes the ArCheck.
struct CheckOps {
  // Evaluates one update of a Normal or Triggered reference against the
  // rule's settings and the reference's state. Problems of the
  // configuration are logged here; the decision is only returned.
  CheckOutcome (*on_event)(const ArCheck* check, const CheckEvent& event) = nullptr;
  // Checks that count their triggers in infod: the counter's key for the
  // key of the update; -1 (logged) when it has none. The engine asks for
  // the count once a trigger has been applied; null for checks that do
  // not count.
  int (*trigger_counter)(const std::string& key, std::string* counter_key) = nullptr;
  // Names the watched device: display name, a second label and the device's
  // configuration reference. A null output is not wanted; an output left
  // unset has no value. 0 success, -1 failure (no outputs then).
  int (*describe_device)(const ArCheck* check, OptionalText* device, OptionalText* label,
                         OptionalText* dev_ref) = nullptr;
  // Describes the condition: the current value, what is measured and the
  // configured trigger. -1 without a current event.
  int (*describe_trigger)(const ArCheck* check, OptionalText* value, OptionalText* property,
                          OptionalText* trigger) = nullptr;
  // Builds the key the check listens to (into key unless null); non-zero
  // when the configuration does not allow one, with the module's reason
  // into reason unless null. Logs nothing: the caller says what it costs.
  int (*subscription_key)(const ArCheck* check, std::string* key, CheckReason* reason) = nullptr;
  // The SNMP alert script's arguments after the five shared ones
  // (checks/snmp_alert.h): 0 made, 1 the event is not to be reported, -1
  // failure. Null when the kind has no script.
  int (*snmp_args)(const ArCheck* check, std::vector<std::string>* args) = nullptr;
  // Offline, for `arctl check`: reports what is wrong with the settings of
  // the check's rule and reference (checks/audit.h): settings that leave
  // the reference without a subscription or make every update be
  // discarded, values the daemon would read as something else, devices the
  // configuration does not hold. Logs nothing; null when there is nothing
  // to audit.
  void (*audit)(const ArCheck* check, AuditReport* report) = nullptr;
  // Kinds whose updates come from a person's phone: the number a reply to
  // the current update goes to ("" without one). Null for every other kind.
  std::string (*reply_to)(const ArCheck* check) = nullptr;
};

// A text a kind reports of its rule: a setting of the rule, or, when
// setting is null, a fixed text (null for none).
struct KindText {
  const char* setting = nullptr;
  const char* fixed = nullptr;
};

// The key of a kind that listens to its settings joined: head (a setting,
// or the rule's path when null), joint, and tail (a setting, or nothing
// when null). A setting that is empty leaves the reference without a key,
// logged as "Invalid <invalid> for AR: <rule's name>".
struct KeyRecipe {
  const char* head = nullptr;
  const char* joint = "";
  const char* tail = nullptr;
  const char* invalid = nullptr;
};

// One kind of check: everything the daemon knows about it. Each module
// writes its kind's descriptor with designated initialisers; a field not
// named keeps the default given here.
struct CheckType {
  const char* name = nullptr;            // the rule's "check_type" text
  const char* domain = nullptr;          // its settings under the rule ("%s.dev_refs.total")
  bool has_resolve = false;              // whether the rule has a resolve stage
  // Whether its value is a level, which describes the present (a reading,
  // a status, a signal), rather than an event, something that happened (a
  // message, a login, a change). A level is judged again whenever its
  // reference comes back without an update; an event never is.
  bool level = false;
  const char* on_change_flag = nullptr;  // a flag that, when on, takes the resolve stage away
  CheckOps ops = {};                     // no on_event: no check module exists
  const char* snmp_script = nullptr;     // the SNMP alert script in the scripts directory; null for none
  // Every setting the module reads under the rule ("enviro.dev_ref",
  // "serial.signal.dev_refs.dev_ref#" for numbered ones), null-terminated,
  // null for none: its readers take their keys from here, and `arctl
  // check` warns of any other.
  const char* const* settings = nullptr;
  const ThresholdKind* threshold = nullptr;  // the threshold kinds' own texts and tables; null for the others
  // What describe_trigger_by_kind reports as the property and the trigger
  // (the trigger is "N/A" while the on-change flag is on), and the key
  // subscription_key_by_kind makes, for the kinds whose operations are
  // those; unused by the others.
  KindText property = {};
  KindText trigger = {};
  KeyRecipe key = {};
};
