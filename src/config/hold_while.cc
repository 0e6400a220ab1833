// Holds between rules, read and resolved.
#include "config/hold_while.h"

#include <algorithm>
#include <map>
#include <vector>

#include "base/log.h"
#include "config/load_finding.h"
#include "config/loader.h"
#include "model/autoresponse.h"
#include "model/bounds.h"

namespace {

std::string name_path(const AutoResponse& ar, size_t k) {
  return ar.path() + "." + kHoldWhile + ".rule" + std::to_string(k + 1);
}

void refuse(LoadedConfig* config, const AutoResponse& ar, size_t k, const std::string& why) {
  load_finding_log(&config->findings, LoadFindingKind::kHoldRefused, ar.index, name_path(ar, k), kLogFatal,
                   "Hold of AR %s while %s refused: %s; it is loaded without it", ar.name.c_str(),
                   ar.hold_names()[k].c_str(), why.c_str());
}

AutoResponse* rule_numbered(LoadedConfig* config, uint32_t n) {
  const auto it = std::lower_bound(config->rules.begin(), config->rules.end(), n,
                                   [](const AutoResponse& ar, uint32_t number) { return ar.index < number; });
  return it != config->rules.end() && it->index == n ? &*it : nullptr;
}

}  // namespace

void read_hold_names(LoadedConfig* config, AutoResponse* ar) {
  if (ar->hold_links) ar->hold_links->names.clear();
  const std::string root = ar->path() + "." + kHoldWhile;
  xmldb_t* db = config->db;
  if (xmldb_getstring(db, root.c_str(), "total")[0] == '\0') return;
  const int32_t total = bounded_total(db, root.c_str(), "total", kMaxHolds);
  for (int32_t k = 1; k <= total; ++k) {
    const std::string name = xmldb_getstring(db, root.c_str(), ("rule" + std::to_string(k)).c_str());
    ar->links().names.push_back(name);
  }
}

void resolve_holds(LoadedConfig* config) {
  bool any = false;
  for (AutoResponse& ar : config->rules) {
    if (!ar.hold_links) continue;
    ar.hold_links->holds.clear();
    ar.hold_links->held.clear();
    any = any || !ar.hold_links->names.empty();
  }
  // Most loads hold nothing: no index of every rule's name for them.
  if (!any) return;
  std::multimap<std::string, uint32_t> by_name;
  for (const AutoResponse& ar : config->rules) by_name.emplace(ar.name, ar.index);
  // Each name, to the one rule it names.
  std::vector<std::vector<std::pair<size_t, uint32_t>>> edges;  // by rule: (name's place, rule number)
  for (AutoResponse& ar : config->rules) {
    auto& mine = edges.emplace_back();
    for (size_t k = 0; k < ar.hold_names().size(); ++k) {
      const std::string& name = ar.hold_names()[k];
      if (name.empty()) continue;
      const size_t named = by_name.count(name);
      if (named == 0) {
        refuse(config, ar, k, "no rule is named so");
      } else if (named > 1) {
        refuse(config, ar, k, std::to_string(named) + " rules are named so; name one only once");
      } else if (by_name.find(name)->second == ar.index) {
        refuse(config, ar, k, "a rule cannot hold itself");
      } else {
        mine.emplace_back(k, by_name.find(name)->second);
      }
    }
  }
  // Holds in the rules' order, each refused when the rule it names holds,
  // through those kept so far, the rule that names it.
  size_t r = 0;
  for (AutoResponse& ar : config->rules) {
    for (const auto& [k, target] : edges[r]) {
      // The path from target back to ar along the holds kept, if any.
      std::map<uint32_t, uint32_t> came_from{{target, 0}};
      std::vector<uint32_t> frontier{target};
      bool cycle = false;
      while (!frontier.empty() && !cycle) {
        const uint32_t at = frontier.back();
        frontier.pop_back();
        const AutoResponse* rule = rule_numbered(config, at);
        for (const uint32_t next : rule->holds()) {
          if (came_from.count(next) > 0) continue;
          came_from[next] = at;
          if (next == ar.index) {
            cycle = true;
            break;
          }
          frontier.push_back(next);
        }
      }
      if (!cycle) {
        ar.links().holds.push_back(target);
        continue;
      }
      // ar, then back along the holds to target: the cycle read backwards.
      std::vector<uint32_t> back;
      for (uint32_t at = ar.index;; at = came_from[at]) {
        back.push_back(at);
        if (at == target) break;
      }
      std::string cycle_text = ar.name;
      for (auto it = back.rbegin(); it != back.rend(); ++it) cycle_text += " -> " + rule_numbered(config, *it)->name;
      refuse(config, ar, k, "it closes a cycle of holds: " + cycle_text);
    }
    ++r;
  }
  for (AutoResponse& ar : config->rules) {
    for (const uint32_t target : ar.holds()) rule_numbered(config, target)->links().held.push_back(ar.index);
  }
}
