// The list of action kinds.
#include "actions/action_kinds.h"

#include <cstring>

// Each kind's descriptor is defined in its own file; this list is the
// only other place that names it.
extern const ActionKind kRpcAction;
extern const ActionKind kDioAction;
extern const ActionKind kResolveAction;
extern const ActionKind kCustomAction;
extern const ActionKind kEmailAction;
extern const ActionKind kSmsAction;
extern const ActionKind kSnmpAction;
extern const ActionKind kNagiosAction;
extern const ActionKind kConmanAction;
extern const ActionKind kCmsAction;

// One line per configurable kind, in the order "action_type" has always
// been compared.
const ActionKind* const kActionKinds[] = {
    &kRpcAction,
    &kDioAction,
    &kResolveAction,
    &kCustomAction,
    &kEmailAction,
    &kSmsAction,
    &kSnmpAction,
    &kNagiosAction,
    &kConmanAction,
    nullptr,
};

const ActionKind* action_kind_find(const char* type) {
  for (const ActionKind* const* kind = kActionKinds; *kind != nullptr; ++kind) {
    if (strcmp(type, (*kind)->type) == 0) return *kind;
  }
  return nullptr;
}

const ActionKind& action_kind_cms() { return kCmsAction; }
