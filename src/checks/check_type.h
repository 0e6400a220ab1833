// The check framework: the list of check kinds (each module file defines
// its kind's descriptor, model/check_kind.h), the outcomes a check
// returns, and the conventions the modules share.
#pragma once

#include <cstdint>
#include <string>

#include "model/check_kind.h"
#include "platform/leading_int.h"

// "drop", "trigger", "resolve", "refresh" or "not a reading".
const char* check_outcome_name(CheckOutcomeKind kind);

CheckOutcome outcome_drop();
CheckOutcome outcome_refresh();
CheckOutcome outcome_trigger(const char* format, ...) __attribute__((format(printf, 1, 2)));
CheckOutcome outcome_resolve(const char* format, ...) __attribute__((format(printf, 1, 2)));
CheckOutcome outcome_not_reading(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Every kind, in the order the "check_type" names are compared; ends with
// a null pointer.
extern const CheckType* const kCheckTypes[];

// The kind whose name equals name; null when none does.
const CheckType* check_type_named(const char* name);

// Whether a module exists for the kind (a kind the appliance names without
// a check in this daemon has none).
inline bool check_type_has_module(const CheckType* type) { return type != nullptr && type->ops.on_event != nullptr; }

// --- Conventions shared by the check modules -------------------------------

// A setting of the check's rule: prefix.key under the rule's path, read
// afresh (never null, "" when absent).
const char* check_setting(const ArCheck* check, const char* key);
int32_t check_setting_size(const ArCheck* check, const char* key);
bool check_setting_flag(const ArCheck* check, const char* key);

// Any setting, under an explicit prefix.
const char* check_setting_at(const ArCheck* check, const char* prefix, const char* key);

// A number in an update value or a string setting is read with
// leading_int (platform/leading_int.h), as a size setting is.

// Stores text in an output the caller wants.
void set_output(OptionalText* out, std::string text);

// The current event's value into out; false when there is no current event.
bool current_value(const ArCheck* check, OptionalText* out);

// The describing operations of the kinds that report two of their texts
// (CheckType::property, trigger) and subscribe to their settings joined
// (CheckType::key).
int describe_trigger_by_kind(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger);
int subscription_key_by_kind(const ArCheck* check, std::string* key, CheckReason* reason);

// A subscription_key's refusal: the reason format makes, at priority, into
// reason unless it is null (then nothing is formatted); returns -1.
int refuse_settings(CheckReason* reason, int priority, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The decision of the checks that only trigger: a Normal reference
// triggers ("AR %s triggered. val %s"), anything else is dropped.
CheckOutcome trigger_when_normal(const ArCheck* check, const CheckEvent& event);
