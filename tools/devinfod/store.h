// The development infod's state apart from its sockets: the current value
// of every key, and which connection subscribed to what.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace devinfod {

// The last value pushed for each key.
class ValueStore {
 public:
  void set(const std::string& key, const std::string& value) { values_[key] = value; }
  // The value of key, or none when nothing was pushed for it.
  std::optional<std::string> get(const std::string& key) const;

 private:
  std::map<std::string, std::string> values_;
};

// Subscriptions by connection id.
class Subscriptions {
 public:
  void add(uint64_t conn, const std::string& key) { by_conn_[conn].insert(key); }
  void remove(uint64_t conn, const std::string& key);
  // Forgets every subscription of a closed connection.
  void drop(uint64_t conn) { by_conn_.erase(conn); }
  // Connections, in ascending id order, with at least one subscription that
  // takes an update for key; each appears once however many of its
  // subscriptions match.
  std::vector<uint64_t> subscribers(const std::string& key) const;

 private:
  std::map<uint64_t, std::set<std::string>> by_conn_;
};

}  // namespace devinfod
