// The routing index of subscriptions.
#include "engine/router.h"

#include <algorithm>
#include <functional>

#include "model/archeck.h"

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

void route_index_clear(RouteIndex& routes) {
  routes.by_tail.clear();
  routes.last_components.clear();
  routes.max_tail_components = 0;
  routes.unindexed.clear();
  routes.scratch.clear();
  routes.starts.clear();
  routes.hits.clear();
}

void route_index_build(RouteIndex& routes, ArCheckList& checks) {
  route_index_clear(routes);
  uint32_t seq = 0;
  for (ArCheck& check : checks) {
    check.seq = seq++;
    std::string_view tail;
    if (tail_of(check.conf.subscription, &tail)) {
      routes.by_tail[tail].push_back(&check);
      ++routes.last_components[last_component(tail)];
      const size_t components = static_cast<size_t>(std::count(tail.begin(), tail.end(), '.')) + 1;
      routes.max_tail_components = std::max(routes.max_tail_components, components);
    } else {
      routes.unindexed.push_back(&check);
    }
  }
}

const std::vector<ArCheck*>& route_lookup(RouteIndex& routes, std::string_view key) {
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
    // Every run of components, no longer than the longest tail, that ends
    // at a boundary in a known last component may be a tail. Bounding the
    // runs and testing each bucket once keeps a key of many components
    // linear instead of holding the loop for minutes.
    std::vector<const std::vector<ArCheck*>*>& hits = routes.hits;
    hits.clear();
    for (size_t j = 0; j < count; ++j) {
      const size_t end = j + 1 < count ? starts[j + 1] - 1 : key.size();
      if (routes.last_components.count(key.substr(starts[j], end - starts[j])) == 0) continue;
      const size_t first = j + 1 > routes.max_tail_components ? j + 1 - routes.max_tail_components : 0;
      for (size_t a = first; a <= j; ++a) {
        const auto it = routes.by_tail.find(key.substr(starts[a], end - starts[a]));
        if (it != routes.by_tail.end() && (hits.empty() || hits.back() != &it->second)) hits.push_back(&it->second);
      }
    }
    std::sort(hits.begin(), hits.end(), std::less<>());
    hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
    for (const std::vector<ArCheck*>* bucket : hits) {
      for (ArCheck* check : *bucket) {
        if (route_matches(check->conf.subscription, key)) found.push_back(check);
      }
    }
  }
  for (ArCheck* check : routes.unindexed) {
    if (route_matches(check->conf.subscription, key)) found.push_back(check);
  }
  // Each ArCheck sits in one bucket or among the unindexed, so none is
  // found twice; hand the update over in the order of the checks list.
  if (found.size() > 1) {
    std::sort(found.begin(), found.end(), [](const ArCheck* a, const ArCheck* b) { return a->seq < b->seq; });
  }
  return found;
}
