// `arctl explain`: why each reference of a rule is in its state and what
// would change it, told from what the daemon shows of itself (or what a
// simulated daemon holds at a time) and the configuration it loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "arctl/daemon_view.h"
#include "arctl/rule_status.h"
#include "model/check_kind.h"

struct ArCheck;
struct Engine;
class ActionQueue;

// What explain tells of one reference beyond its status: how the check
// judges its latest value now (in the state it is in; as Normal while it
// takes no updates), and what it measures against what.
struct ExplainedReference {
  ReferenceStatus status;
  std::optional<CheckOutcome> judged;
  std::string measures;  // "temp against 30"; "" when the check does not say
};

struct ExplainedRule {
  uint32_t number = 0;
  std::string name, path, check_type;
  bool level = false;        // its value is a level, judged again when it comes back
  bool has_resolve = true;
  std::string settings;      // "enviro.trigger_val=30, enviro.hysteresis=1"
  std::vector<ExplainedReference> references;
  std::vector<RestartSilence> silences;
  std::vector<QueueEntry> queued;        // its actions in the queue
  std::vector<FinishedEntry> finished;   // its actions that ended last, oldest first
  int64_t now_ms = 0;                    // wall time the facts are of
};

// The facts of reference ref (0: every one) of check's rule as the engine
// holds them now: for `arctl test --explain`.
ExplainedRule explain_engine(Engine& engine, const ActionQueue& queue, const ArCheck& any_check_of_rule, uint32_t ref);

// The text for people, and one JSON object for programs.
void print_explanation(std::ostream& out, const ExplainedRule& rule);
void print_explanation_json(std::ostream& out, const ExplainedRule& rule);
