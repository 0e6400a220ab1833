// Routing of infod updates to the ArChecks that subscribed to them.
//
// An ArCheck takes an update when its subscription occurs in the update's
// key and that occurrence ends at the end of the key or just before a '.'.
// In such an occurrence everything after the subscription's first dot
// lines up with whole components of the key (only the first component may
// be the tail end of one). The index keys every subscription by that part,
// its tail, so an update looks up the runs of its own components instead
// of walking every ArCheck: a few hash lookups whatever the number of rules.
#pragma once

#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/archeck.h"

struct RouteIndex {
  std::unordered_map<std::string_view, std::vector<ArCheck*>> by_tail;
  // The last components of the indexed tails: a run of key components can
  // only be a tail when it ends in one of these.
  std::unordered_map<std::string_view, int> last_components;
  // The most components any indexed tail has: no longer run can be one.
  size_t max_tail_components = 0;
  std::vector<ArCheck*> unindexed;  // subscriptions without a usable tail
  std::vector<ArCheck*> scratch;    // reused per update
  std::vector<size_t> starts;       // reused per update
  std::vector<const std::vector<ArCheck*>*> hits;  // reused per update
};

// Rebuilds the index from a load's checks (numbering each ArCheck's seq in
// list order).
void route_index_build(RouteIndex& routes, ArCheckList& checks);

// Empties the index (before the ArChecks go).
void route_index_clear(RouteIndex& routes);

// Whether subscription takes key.
bool route_matches(std::string_view subscription, std::string_view key);

// Collects the ArChecks taking key, in checks-list order, into the index's
// scratch vector and returns it.
const std::vector<ArCheck*>& route_lookup(RouteIndex& routes, std::string_view key);
