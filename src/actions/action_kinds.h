// The action kinds: what each kind is (ActionKind), the list of the kinds
// a rule's "action_type" can name, and the built-in central-management
// kind. Each kind's descriptor is defined in its own file,
// src/actions/<kind>_action.cc.
#pragma once

#include <string>

#include "actions/action_env.h"
#include "model/action.h"
#include "platform/xmldb.h"

class AuditReport;
struct CheckType;

// Offline, for `arctl check`: reports what is wrong with the settings of
// the action at the dotted path action, in a rule of the kind check (null
// when the rule names none). Logs nothing.
using ActionAuditFn = void (*)(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);

// One kind of action. Each kind's file writes its descriptor with
// designated initialisers; a field not named keeps the default given here.
struct ActionKind {
  const char* type = nullptr;     // the "action_type" text; null for the built-in kind
  ActionQueueFn queue = nullptr;  // its queue operation
  ActionAuditFn audit = nullptr;  // null: nothing to audit
  // The settings it reads under the action's element of its type
  // ("rpc_ref" of <rpc>, "args.arg#" for numbered ones), null-terminated;
  // null for none.
  const char* const* settings = nullptr;
};

// The configurable kinds in the order "action_type" is compared; ends with
// a null pointer.
extern const ActionKind* const kActionKinds[];

// The configurable kind whose type equals type exactly; null when none does.
const ActionKind* action_kind_find(const char* type);

// The built-in central-management kind every rule gets for each managing
// node; no "action_type" names it.
const ActionKind& action_kind_cms();
