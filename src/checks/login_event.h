// The login event checks of the web UI and the CLI: one design with two
// sets of configuration keys and infod keys.
#pragma once

#include <string>

#include "checks/check_type.h"

// The names one of the two checks uses.
struct LoginEventNames {
  const char* login_flag;       // trigger on logins
  const char* logout_flag;      // trigger on logouts
  const char* auth_error_flag;  // trigger on authentication errors
  const char* base_key;         // infod key all three kinds are published under
};

// Triggers a Normal check on an update of a kind whose flag is set; every
// other update is dropped.
CheckOutcome login_on_event(const ArCheck* check, const CheckEvent& event, const LoginEventNames& names);

// The checks have no device: 0 and no outputs.
int login_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref);

// value "LOGIN: v", "LOGOUT: v" or "AUTH ERROR: v" by the current event's
// key; property and trigger "N/A". -1 without a current event.
int login_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger);

// The audit of the three flags: each a flag, at least one on.
void login_event_audit(const ArCheck* check, const LoginEventNames& names, AuditReport* report);

// The kind's own key when exactly one flag is set, the base key when more
// are; -1 without a message when none is.
int login_subscription_key(const ArCheck* check, const LoginEventNames& names, std::string* key);
