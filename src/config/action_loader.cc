// Building Actions from their configuration.
#include "config/action_loader.h"

#include <string>

#include "actions/action_kinds.h"
#include "base/log.h"
#include "model/autoresponse.h"

namespace {

constexpr const char* kActionName = "name";
constexpr const char* kActionType = "action_type";
constexpr const char* kActionDelay = "delay_time";

// "<list>.action<n>.", the start of the keys of an action's settings under
// its rule's path; a setting's name is appended and cut off again, so one
// string serves every read of the action.
std::string action_key_prefix(ActionListId list, uint32_t n) {
  std::string key;
  key.reserve(48);  // room for the longest setting read this way
  key += list == kTriggerList ? "trigger_actions.action" : "resolve_actions.action";
  key += std::to_string(n);
  key += '.';
  return key;
}

// The key of setting for an action, in the string key_prefix made.
const char* action_key(std::string* key, size_t prefix_size, const char* setting) {
  key->resize(prefix_size);
  key->append(setting);
  return key->c_str();
}

}  // namespace

const char* const kActionSettings[] = {kActionName, kActionType, kActionDelay, nullptr};

bool build_action(AutoResponse* ar, ActionListId list, uint32_t n, std::vector<LoadFinding>* findings) {
  // Read under the rule's path, which the database keeps looked up from
  // one read to the next.
  xmldb_t* db = ar->config_db;
  std::string key = action_key_prefix(list, n);
  const size_t prefix_size = key.size();
  const char* name = xmldb_getstring(db, ar->path().c_str(), action_key(&key, prefix_size, kActionName));
  if (name[0] == '\0') {
    LoadFinding& f = load_finding_log(findings, LoadFindingKind::kActionWithoutName, ar->index, ar->path() + "." + key,
                                      kLogFatal, "Action has no name");
    f.list = list;
    f.action = n;
    return false;
  }
  Action action;
  action.name = name;
  action.number = n;
  action.list = list;
  const char* type = xmldb_getstring(db, ar->path().c_str(), action_key(&key, prefix_size, kActionType));
  const ActionKind* kind = action_kind_find(type);
  if (kind == nullptr) {
    LoadFinding& f = load_finding_log(findings, LoadFindingKind::kUnknownActionType, ar->index,
                                      ar->path() + "." + key, kLogFatal, "Unknown action %s", type);
    f.list = list;
    f.action = n;
    return false;
  }
  action.queue = kind->queue;
  action_list(ar, list).own().push_back(std::move(action));
  return true;
}

void build_cms_actions(CmsNodes* cms) {
  cms->actions.clear();
  cms->actions.reserve(cms->paths.size());
  for (size_t node = 0; node < cms->paths.size(); ++node) {
    Action action;
    action.name = "CMS action";
    action.queue = action_kind_cms().queue;
    action.number = static_cast<uint32_t>(node);
    action.list = kTriggerList;
    action.cms = true;
    cms->actions.push_back(std::move(action));
  }
}

void read_action_delays(AutoResponse* ar) {
  if (ar->delays_read) return;
  ar->delays_read = true;
  xmldb_t* db = ar->config_db;
  CmsNodes& cms = *ar->cms;
  for (ActionList* list : {&ar->trigger_actions, &ar->resolve_actions}) {
    if (list->shared_count() > 0) read_cms_delays(&cms, db);
    for (Action& action : list->own()) {
      std::string key = action_key_prefix(static_cast<ActionListId>(action.list), action.number);
      action.delay_time = xmldb_getsize(db, ar->path().c_str(), action_key(&key, key.size(), kActionDelay));
    }
  }
}

void read_cms_delays(CmsNodes* cms, xmldb_t* db) {
  // The same for every rule: read once per load.
  if (cms->delays_read) return;
  cms->delays_read = true;
  for (Action& action : cms->actions) {
    action.delay_time = xmldb_getsize(db, cms->paths.at(action.number).c_str(), kActionDelay);
  }
}
