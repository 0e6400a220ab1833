// Action: one configured trigger or resolve action of an AutoResponse.
#pragma once

#include <list>
#include <memory>
#include <string>

#include "config/archeck.h"

struct AutoResponse;

// Puts one action of an ArCheck on its way: 0 queued (its status is then
// Queued, or Dropped when it completed without the action queue), 1 skipped,
// anything else failed. The queueing step logs and drops what is not 0.
using ActionQueueFn = int (*)(ArCheck* check, const Action& action, ActionStatus* status);

struct Action {
  std::string name;            // "CMS action" for the built-in kind
  std::string path;            // its configuration path
  ActionQueueFn queue = nullptr;
};

// Run-ordered; list nodes keep their addresses, so the ArChecks' entries
// can point at the Actions for as long as the AutoResponse lives.
using ActionList = std::list<Action>;

// Builds the Action configured under path, its queue operation that of its
// kind (actions/action_kinds.h); false (reason logged, list unchanged) when
// it has no name or an unknown type.
bool build_action(AutoResponse* ar, const std::string& path, ActionList* list);

// Appends the built-in central-management Action for cms_path.
bool build_cms_action(AutoResponse* ar, const std::string& cms_path, ActionList* list);
