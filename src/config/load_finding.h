// What the loader found wrong with a configuration: one finding beside
// each line it logs about it, so that a reader (arctl) learns what and
// where from the finding, never from the line's wording. Findings are made
// only on faults.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/action.h"

enum class LoadFindingKind : uint8_t {
  // Reasons, each logged before the finding of what it cost.
  kActionWithoutName,   // an action has no name
  kUnknownActionType,   // an action's type is none the daemon has
  kActionListFailed,    // a list broke on the action before
  kUnknownCheckType,    // the rule's check type is none the daemon knows
  kCheckWithoutModule,  // the rule's check type has no module in this daemon
  kCheckSettings,       // the check module's complaint about a reference's settings
  // What they cost, and faults of their own.
  kRuleWithoutName,   // the rule has no name, so it is not loaded
  kRuleRejected,      // the rule is not loaded
  kNoSubscription,    // a reference gets no subscription, so it is not made
  kReferenceNotMade,  // a reference is not made
  kTotalCut,          // a "total" above its limit, read up to the limit
  kCmsNodesCut,       // more central-management nodes than are read
  kHoldRefused,       // a name under hold_while that holds nothing (no rule, several, itself, a cycle)
};

struct LoadFinding {
  LoadFinding(LoadFindingKind what, int logged_at) : kind(what), priority(logged_at) {}

  LoadFindingKind kind;
  int priority;             // as logged
  uint32_t rule = 0;        // N of config.autoresponse.autoresponseN; 0 for none
  uint32_t reference = 0;   // from 1; 0 for none
  ActionListId list = kTriggerList;  // of an action
  uint32_t action = 0;      // n of "<list>.action<n>"; 0 for none
  std::string path;         // the configuration path of the setting concerned
  int32_t limit = 0;        // of a cut: how many entries are read
  std::string text;         // the line the daemon logs, exactly
};

// Logs the line format makes at priority and keeps it in findings as a
// finding of kind about rule (0 for none) and path; the caller adds the
// rest of the place to the finding returned.
LoadFinding& load_finding_log(std::vector<LoadFinding>* findings, LoadFindingKind kind, uint32_t rule,
                              std::string path, int priority, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
