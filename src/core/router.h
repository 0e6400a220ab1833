// Routing of infod updates to the ArChecks that subscribed to them.
//
// An ArCheck takes an update when its subscription occurs in the update's
// key and that occurrence ends at the end of the key or just before a '.'.
// The index keys every subscription by its last dotted component, which
// such an occurrence always lines up with a whole component of the key, so
// an update looks up its key's components instead of walking every ArCheck.
#pragma once

#include <string_view>
#include <unordered_map>
#include <vector>

struct ArCheck;
struct DaemonContext;

struct RouteIndex {
  std::unordered_map<std::string_view, std::vector<ArCheck*>> by_last_component;
  std::vector<ArCheck*> unindexed;  // subscriptions without a usable last component
  std::vector<ArCheck*> scratch;    // reused per update
};

// Rebuilds the index from the context's checks list (numbering each
// ArCheck's seq in list order).
void route_index_build(DaemonContext* ctx);

// Empties the index (before the ArChecks go).
void route_index_clear(DaemonContext* ctx);

// Whether subscription takes key.
bool route_matches(std::string_view subscription, std::string_view key);

// Collects the ArChecks taking key, in checks-list order, into the index's
// scratch vector and returns it.
const std::vector<ArCheck*>& route_lookup(DaemonContext* ctx, std::string_view key);
