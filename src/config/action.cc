// Building Actions from their configuration.
#include "config/action.h"

#include <cstring>

#include "actions/action_ops.h"
#include "config/autoresponse.h"
#include "core/context.h"
#include "core/log.h"

const ActionKind kActionKinds[] = {
    {"rpc", queue_rpc_action},       {"dio", queue_dio_action},       {"resolve", queue_resolve_action},
    {"custom", queue_custom_action}, {"email", queue_email_action},   {"sms", queue_sms_action},
    {"snmp", queue_snmp_action},     {"nagios", queue_nagios_action}, {"conman", queue_conman_action},
    {nullptr, nullptr},
};

bool build_action(AutoResponse* ar, const std::string& path, ActionList* list) {
  xmldb_t* db = ar->daemon->config_db;
  const char* name = xmldb_getstring(db, path.c_str(), "name");
  if (name[0] == '\0') {
    ar_log(kLogFatal, "Action has no name");
    return false;
  }
  Action action;
  action.name = name;
  action.path = path;
  const char* type = xmldb_getstring(db, path.c_str(), "action_type");
  for (const ActionKind* kind = kActionKinds; kind->type != nullptr; ++kind) {
    if (strcmp(type, kind->type) == 0) {
      action.queue = kind->queue;
      list->push_back(std::move(action));
      return true;
    }
  }
  ar_log(kLogFatal, "Unknown action %s", type);
  return false;
}

bool build_cms_action(AutoResponse* /*ar*/, const std::string& cms_path, ActionList* list) {
  list->push_back(Action{"CMS action", cms_path, queue_cms_action});
  return true;
}
