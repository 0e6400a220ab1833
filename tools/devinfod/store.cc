// Values and subscriptions of the development infod.
#include "devinfod/store.h"

#include "devinfod/protocol.h"

namespace devinfod {

std::optional<std::string> ValueStore::get(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

void Subscriptions::remove(uint64_t conn, const std::string& key) {
  auto it = by_conn_.find(conn);
  if (it == by_conn_.end()) return;
  it->second.erase(key);
  if (it->second.empty()) by_conn_.erase(it);
}

std::vector<uint64_t> Subscriptions::subscribers(const std::string& key) const {
  std::vector<uint64_t> out;
  for (const auto& [conn, subs] : by_conn_) {
    bool hit = false;
    for (const std::string& sub : subs) {
      if (subscription_matches(sub, key)) {
        hit = true;
        break;
      }
    }
    if (hit) out.push_back(conn);
  }
  return out;
}

}  // namespace devinfod
