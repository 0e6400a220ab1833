// Action: one configured trigger or resolve action of an AutoResponse, and
// the table of action kinds with their queue operations.
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

// One configurable kind: the "action_type" text and its queue operation.
struct ActionKind {
  const char* type;
  ActionQueueFn queue;
};

// The kinds in the order "action_type" is compared; ends with a null type.
extern const ActionKind kActionKinds[];

// Builds the Action configured under path; false (reason logged, list
// unchanged) when it has no name or an unknown type.
bool build_action(AutoResponse* ar, const std::string& path, ActionList* list);

// Appends the built-in central-management Action for cms_path.
bool build_cms_action(AutoResponse* ar, const std::string& cms_path, ActionList* list);
