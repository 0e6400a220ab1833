// What a reload would do to each rule the daemon runs, told before it is
// done: the new file's rules, loaded offline with the daemon's own loader,
// against the rules the daemon shows (its loaded list and its rules' shown
// restart records). Equal restart fingerprints mean the daemon keeps the
// rule as it runs; otherwise a reference whose check kind and key stay
// the same carries its state, and every other one starts afresh, its
// waiting delayed actions dropped and, were it Triggered or Resolving,
// its incident left undone.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "arctl/daemon_view.h"
#include "arctl/offline.h"
#include "engine/restart_record.h"

struct ReloadPlan {
  enum class Fate { kUnchanged, kCarried, kAfresh, kAdded, kRemoved, kUnknown };
  struct Rule {
    uint32_t number = 0;
    std::string name;  // as the new file names it; as the daemon does for a removed rule
    Fate fate = Fate::kUnchanged;
    // Why it starts afresh, or which of its references do while the others
    // carry: "its check kind changed ...", "reference 2's key changed".
    std::vector<std::string> why;
  };
  // A reference that starts afresh, or goes, with something in hand.
  struct Loss {
    uint32_t rule = 0;
    std::string rule_name;
    uint32_t ref = 0;
    std::string why;  // "its rule is removed", "its key changed", ...
    ArCheckState state = kArNormal;
    std::vector<RestartDue> dropped;  // its waiting delayed actions
  };
  std::vector<Rule> rules;  // in number order, unchanged ones too
  std::vector<Loss> losses;

  size_t unchanged() const;
  // The references it would leave Triggered or Resolving, undone.
  std::vector<const Loss*> undone() const;
};

// The plan for config's loaded rules against what view shows the daemon
// runs; records holds each loaded rule's shown record by its number (a
// rule without one, or with "-", is missing).
ReloadPlan plan_reload(const OfflineConfig& config, const DaemonView& view,
                       const std::map<uint32_t, RestartRule>& records);

// Reads the shown record of every rule the daemon loaded; false when
// infod does not answer.
bool read_shown_records(InfodConnection& infod, const DaemonView& view, std::map<uint32_t, RestartRule>* records);

// The plan's lines for people, each beginning "plan: ".
void print_plan(std::ostream& out, const ReloadPlan& plan);

// The undone references as the refusal names them: "rule 2 (spare)
// reference 1 Triggered, ...".
std::string undone_list(const ReloadPlan& plan);
