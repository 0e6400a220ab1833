// The table of configurable action kinds.
#include "actions/action_kinds.h"

#include <cstring>

const ActionKind kActionKinds[] = {
    {"rpc", queue_rpc_action},       {"dio", queue_dio_action},       {"resolve", queue_resolve_action},
    {"custom", queue_custom_action}, {"email", queue_email_action},   {"sms", queue_sms_action},
    {"snmp", queue_snmp_action},     {"nagios", queue_nagios_action}, {"conman", queue_conman_action},
    {nullptr, nullptr},
};

const ActionKind* action_kind_find(const char* type) {
  for (const ActionKind* kind = kActionKinds; kind->type != nullptr; ++kind) {
    if (strcmp(type, kind->type) == 0) return kind;
  }
  return nullptr;
}
