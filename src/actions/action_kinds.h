// The action kinds: the queue operation of each kind, one per source file,
// and the table of the kinds a rule's "action_type" can name.
#pragma once

#include "model/action.h"

// One configurable kind: the "action_type" text and its queue operation.
struct ActionKind {
  const char* type;
  ActionQueueFn queue;
};

// The kinds in the order "action_type" is compared; ends with a null type.
extern const ActionKind kActionKinds[];

// The row whose type equals type exactly; null when none does.
const ActionKind* action_kind_find(const char* type);

int queue_rpc_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // rpc_action.cc
int queue_dio_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // dio_action.cc
int queue_resolve_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);  // resolve_action.cc
int queue_custom_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // custom_action.cc
// The most arguments a custom action runs with: more than any script is
// configured with, so a larger count is a broken setting and the action
// fails instead of allocating what it asks.
constexpr int32_t kMaxCustomArgs = 256;
int queue_email_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);    // email_action.cc
int queue_sms_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // sms_action.cc
int queue_snmp_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);     // snmp_action.cc
int queue_nagios_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // nagios_action.cc
int queue_conman_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // conman_action.cc

// The built-in central-management action every rule gets for each managing
// node; no "action_type" names it.
int queue_cms_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);  // cms_action.cc
