// The paths and lists of Actions.
#include "model/action.h"

#include "model/autoresponse.h"

std::string action_path(const AutoResponse& ar, const Action& action) {
  if (action.cms) return ar.cms->paths.at(action.number);
  std::string path = ar.path();
  path += action.list == kTriggerList ? ".trigger_actions.action" : ".resolve_actions.action";
  path += std::to_string(action.number);
  return path;
}

ActionList& action_list(AutoResponse* ar, ActionListId list) {
  return list == kTriggerList ? ar->trigger_actions : ar->resolve_actions;
}

const ActionList& action_list(const AutoResponse& ar, ActionListId list) {
  return list == kTriggerList ? ar.trigger_actions : ar.resolve_actions;
}
