// Building Actions from their configuration.
#include "config/action.h"

#include "actions/action_kinds.h"
#include "config/autoresponse.h"
#include "core/context.h"
#include "core/log.h"

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
  const ActionKind* kind = action_kind_find(type);
  if (kind == nullptr) {
    ar_log(kLogFatal, "Unknown action %s", type);
    return false;
  }
  action.queue = kind->queue;
  list->push_back(std::move(action));
  return true;
}

bool build_cms_action(AutoResponse* /*ar*/, const std::string& cms_path, ActionList* list) {
  list->push_back(Action{"CMS action", cms_path, queue_cms_action});
  return true;
}
