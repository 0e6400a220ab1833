// Action: one configured trigger or resolve action of an AutoResponse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/shared_name.h"
#include "model/archeck.h"

struct AutoResponse;
struct ActionEnv;

// Puts one action of an ArCheck on its way with what the environment
// (actions/action_env.h) gives: 0 queued (its status is then Queued, or
// Dropped when it completed without the action queue), 1 skipped, anything
// else failed. The queueing step logs and drops what is not 0.
using ActionQueueFn = int (*)(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status);

// The list an Action was configured in.
enum ActionListId : uint8_t {
  kTriggerList = 0,
  kResolveList = 1,
};

// The Action keeps no configuration path of its own: with thousands of
// rules a path string per action would cost more than the rest of it.
// action_path forms it from the rule's path, the list and the number.
struct Action {
  Action() : number(0), list(kTriggerList), cms(0) {}

  SharedName name;  // "CMS action" for the built-in kind; many rules share a few names
  ActionQueueFn queue = nullptr;
  int32_t delay_time = 0;  // seconds after the trigger; read with the rule's first ArCheck
  // For a configured action, n of "<list>.action<n>"; for the built-in
  // central-management one, its node's place in the context's cms_nodes.
  uint32_t number : 30;
  uint32_t list : 1;  // an ActionListId; kTriggerList for the built-in kind, which serves both
  uint32_t cms : 1;   // the built-in central-management kind
};

// The most central-management nodes a load forwards to.
constexpr int32_t kMaxCmsNodes = 1024;

// One list of a rule, in run order: the load's central-management actions,
// which every rule shares, then the rule's own configured ones. A rule
// holds no copy of the shared ones, so each node costs it nothing and each
// of its references a status byte per list. Nothing points at an Action:
// an ArCheck finds its rule's actions by position.
class ActionList {
 public:
  // Puts shared (owned by the load, unchanged while the rule lives) ahead
  // of the rule's own actions.
  void share(const std::vector<Action>* shared) { shared_ = shared; }
  // Whether the list was given the load's shared actions (a list that is
  // never read, such as the resolve list of a rule without a resolve
  // stage, is not).
  bool sharing() const { return shared_ != nullptr; }
  size_t shared_count() const { return shared_ != nullptr ? shared_->size() : 0; }
  size_t size() const { return shared_count() + own_.size(); }
  const Action& operator[](size_t i) const {
    const size_t shared = shared_count();
    return i < shared ? (*shared_)[i] : own_[i - shared];
  }
  // The rule's own actions.
  std::vector<Action>& own() { return own_; }
  const std::vector<Action>& own() const { return own_; }

 private:
  const std::vector<Action>* shared_ = nullptr;
  std::vector<Action> own_;
};

// The central-management nodes every rule forwards its state to, derived
// once per load: one path per child of "config.cms" whose name begins with
// "cms" (the first kMaxCmsNodes), else "config.cms" itself; none when
// central management is off. Each has one Action, shared by both lists of
// every rule.
struct CmsNodes {
  bool derived = false;  // paths hold what this load's database says
  bool delays_read = false;  // the actions' delay_time has been read
  std::vector<std::string> paths;
  std::vector<Action> actions;  // one per path, in the same order
};

// The configuration path of action in ar, e.g.
// "config.autoresponse.autoresponse3.trigger_actions.action2", or the
// node's path ("config.cms.cms1") for the built-in kind.
std::string action_path(const AutoResponse& ar, const Action& action);

// The list of ar that list names.
ActionList& action_list(AutoResponse* ar, ActionListId list);
const ActionList& action_list(const AutoResponse& ar, ActionListId list);
