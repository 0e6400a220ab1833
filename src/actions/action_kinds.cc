// The table of configurable action kinds.
#include "actions/action_kinds.h"

#include <cstring>

// One row per kind: the type, its queue and audit operations and the
// settings it reads, each defined in the kind's file.
const ActionKind kActionKinds[] = {
    {"rpc", queue_rpc_action, audit_rpc_action, kRpcSettings},
    {"dio", queue_dio_action, nullptr, kDioSettings},
    {"resolve", queue_resolve_action, audit_resolve_action, kResolveSettings},
    {"custom", queue_custom_action, audit_custom_action, kCustomSettings},
    {"email", queue_email_action, audit_email_action, kEmailSettings},
    {"sms", queue_sms_action, audit_sms_action, kSmsSettings},
    {"snmp", queue_snmp_action, audit_snmp_action, kSnmpSettings},
    {"nagios", queue_nagios_action, nullptr, kNagiosSettings},
    {"conman", queue_conman_action, audit_conman_action, kConmanSettings},
    {nullptr, nullptr, nullptr, nullptr},
};

const ActionKind* action_kind_find(const char* type) {
  for (const ActionKind* kind = kActionKinds; kind->type != nullptr; ++kind) {
    if (strcmp(type, kind->type) == 0) return kind;
  }
  return nullptr;
}
