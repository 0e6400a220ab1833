// The routing index of subscriptions.
#include "core/router.h"

#include <algorithm>

#include "config/archeck.h"
#include "core/context.h"

namespace {

// The last dotted component of a subscription, or nothing when an
// occurrence of it need not line up with a whole component of a key
// (no dot at all, or a trailing dot).
bool last_component(std::string_view s, std::string_view* out) {
  const size_t dot = s.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == s.size()) return false;
  *out = s.substr(dot + 1);
  return true;
}

}  // namespace

bool route_matches(std::string_view subscription, std::string_view key) {
  for (size_t pos = key.find(subscription); pos != std::string_view::npos;
       pos = key.find(subscription, pos + 1)) {
    const size_t end = pos + subscription.size();
    if (end == key.size() || key[end] == '.') return true;
  }
  return false;
}

void route_index_clear(DaemonContext* ctx) {
  ctx->routes.by_last_component.clear();
  ctx->routes.unindexed.clear();
  ctx->routes.scratch.clear();
}

void route_index_build(DaemonContext* ctx) {
  route_index_clear(ctx);
  uint32_t seq = 0;
  for (ArCheck& check : ctx->checks) {
    check.seq = seq++;
    std::string_view component;
    if (last_component(check.subscription, &component)) {
      ctx->routes.by_last_component[component].push_back(&check);
    } else {
      ctx->routes.unindexed.push_back(&check);
    }
  }
}

const std::vector<ArCheck*>& route_lookup(DaemonContext* ctx, std::string_view key) {
  std::vector<ArCheck*>& found = ctx->routes.scratch;
  found.clear();
  const auto& index = ctx->routes.by_last_component;
  if (!index.empty()) {
    size_t start = 0;
    while (true) {
      const size_t dot = key.find('.', start);
      const std::string_view component = key.substr(start, dot == std::string_view::npos ? dot : dot - start);
      const auto it = index.find(component);
      if (it != index.end()) {
        for (ArCheck* check : it->second) {
          if (route_matches(check->subscription, key)) found.push_back(check);
        }
      }
      if (dot == std::string_view::npos) break;
      start = dot + 1;
    }
  }
  for (ArCheck* check : ctx->routes.unindexed) {
    if (route_matches(check->subscription, key)) found.push_back(check);
  }
  // Several components may name the same ArCheck; hand each one the
  // update once, in the order of the checks list.
  std::sort(found.begin(), found.end(), [](const ArCheck* a, const ArCheck* b) { return a->seq < b->seq; });
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}
