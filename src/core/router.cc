// The routing index of subscriptions.
#include "core/router.h"

#include <algorithm>

#include "config/archeck.h"
#include "core/context.h"

namespace {

// The part of a subscription after its first dot, when every component of
// it is non-empty; otherwise an occurrence need not line up with whole
// components and the subscription goes unindexed.
bool tail_of(std::string_view s, std::string_view* out) {
  const size_t dot = s.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view tail = s.substr(dot + 1);
  if (tail.empty() || tail.front() == '.' || tail.back() == '.' || tail.find("..") != std::string_view::npos) {
    return false;
  }
  *out = tail;
  return true;
}

std::string_view last_component(std::string_view tail) { return tail.substr(tail.rfind('.') + 1); }

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
  ctx->routes.by_tail.clear();
  ctx->routes.last_components.clear();
  ctx->routes.unindexed.clear();
  ctx->routes.scratch.clear();
  ctx->routes.starts.clear();
}

void route_index_build(DaemonContext* ctx) {
  route_index_clear(ctx);
  uint32_t seq = 0;
  for (ArCheck& check : ctx->checks) {
    check.seq = seq++;
    std::string_view tail;
    if (tail_of(check.subscription, &tail)) {
      ctx->routes.by_tail[tail].push_back(&check);
      ++ctx->routes.last_components[last_component(tail)];
    } else {
      ctx->routes.unindexed.push_back(&check);
    }
  }
}

const std::vector<ArCheck*>& route_lookup(DaemonContext* ctx, std::string_view key) {
  RouteIndex& routes = ctx->routes;
  std::vector<ArCheck*>& found = routes.scratch;
  found.clear();
  if (!routes.by_tail.empty()) {
    // Component starts after the first: a tail begins right after a dot.
    std::vector<size_t>& starts = routes.starts;
    starts.clear();
    for (size_t dot = key.find('.'); dot != std::string_view::npos; dot = key.find('.', dot + 1)) {
      starts.push_back(dot + 1);
    }
    const size_t count = starts.size();
    // Every run of components that ends at a boundary in a known last
    // component may be a tail.
    for (size_t j = 0; j < count; ++j) {
      const size_t end = j + 1 < count ? starts[j + 1] - 1 : key.size();
      if (routes.last_components.count(key.substr(starts[j], end - starts[j])) == 0) continue;
      for (size_t a = 0; a <= j; ++a) {
        const auto it = routes.by_tail.find(key.substr(starts[a], end - starts[a]));
        if (it == routes.by_tail.end()) continue;
        for (ArCheck* check : it->second) {
          if (route_matches(check->subscription, key)) found.push_back(check);
        }
      }
    }
  }
  for (ArCheck* check : routes.unindexed) {
    if (route_matches(check->subscription, key)) found.push_back(check);
  }
  // A subscription can be found through more than one run; hand each
  // ArCheck the update once, in the order of the checks list.
  if (found.size() > 1) {
    std::sort(found.begin(), found.end(), [](const ArCheck* a, const ArCheck* b) { return a->seq < b->seq; });
    found.erase(std::unique(found.begin(), found.end()), found.end());
  }
  return found;
}
