// The action kinds: the queue and audit operations of each kind, one file
// per kind, and the table of the kinds a rule's "action_type" can name.
#pragma once

#include <string>

#include "model/action.h"
#include "platform/xmldb.h"

class AuditReport;
struct CheckType;

// Offline, for `arctl check`: reports what is wrong with the settings of
// the action at the dotted path action, in a rule of the kind check (null
// when the rule names none). Logs nothing.
using ActionAuditFn = void (*)(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);

// One configurable kind: the "action_type" text, its queue operation, its
// audit (null when there is nothing to audit) and the settings it reads
// under the action's element of its type ("rpc_ref" of <rpc>,
// "args.arg#" for numbered ones), null-terminated.
struct ActionKind {
  const char* type;
  ActionQueueFn queue;
  ActionAuditFn audit;
  const char* const* settings;
};

// The kinds in the order "action_type" is compared; ends with a null type.
extern const ActionKind kActionKinds[];

// The row whose type equals type exactly; null when none does.
const ActionKind* action_kind_find(const char* type);

int queue_rpc_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // rpc_action.cc
void audit_rpc_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kRpcSettings[];
int queue_dio_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // dio_action.cc
extern const char* const kDioSettings[];
int queue_resolve_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);  // resolve_action.cc
void audit_resolve_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kResolveSettings[];
int queue_custom_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // custom_action.cc
void audit_custom_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kCustomSettings[];
// The most arguments a custom action runs with: more than any script is
// configured with, so a larger count is a broken setting and the action
// fails instead of allocating what it asks.
constexpr int32_t kMaxCustomArgs = 256;
int queue_email_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);    // email_action.cc
void audit_email_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kEmailSettings[];
int queue_sms_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);      // sms_action.cc
void audit_sms_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kSmsSettings[];
int queue_snmp_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);     // snmp_action.cc
void audit_snmp_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kSnmpSettings[];
int queue_nagios_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // nagios_action.cc
extern const char* const kNagiosSettings[];
int queue_conman_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);   // conman_action.cc
void audit_conman_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check);
extern const char* const kConmanSettings[];

// The built-in central-management action every rule gets for each managing
// node; no "action_type" names it.
int queue_cms_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status);  // cms_action.cc
