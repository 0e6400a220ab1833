// Expectations for check-module tests: the pushes a test daemon sent, as
// key and value pairs, and the pushes one state change of a reference
// makes, so a test can compare whole sequences.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/test_daemon.h"

using Push = std::pair<std::string, std::string>;

// The type 1 messages among sent, in order.
inline std::vector<Push> pushes_of(const std::vector<SentMessage>& sent) {
  std::vector<Push> out;
  for (const SentMessage& m : sent) {
    if (m.type == 1) out.emplace_back(m.key, m.value);
  }
  return out;
}

// Whether exactly text was logged at priority.
inline bool logged_at(const TestDaemon& d, int priority, const std::string& text) {
  for (const LogRecord& r : d.logs) {
    if (r.priority == priority && r.text == text) return true;
  }
  return false;
}

// One rule's reference as the state machine names it in infod.
struct RefKeys {
  std::string path;  // the rule's configuration path
  std::string name;  // the rule's name
  unsigned index;    // the rule's number
  unsigned ref = 1;

  std::string status_key() const { return path + ".refs.ref" + std::to_string(ref) + ".status"; }
  std::string entry_key() const { return path + ".refs.ref" + std::to_string(ref) + ".curr_entry.status"; }

  // State, value and log line of a change caused by an update.
  std::vector<Push> change(const std::string& state, const std::string& key, const std::string& value) const {
    return {{status_key(), state},
            {entry_key(), value},
            {"config.autoresponse.log", line(state) + ", event=" + key + ", value=" + value}};
  }
  // State and log line of a change without an update (Normal, Timeout).
  std::vector<Push> change(const std::string& state) const {
    return {{status_key(), state}, {"config.autoresponse.log", line(state)}};
  }
  // The value alone, as a refresh publishes it.
  std::vector<Push> refresh(const std::string& value) const { return {{entry_key(), value}}; }

 private:
  std::string line(const std::string& state) const {
    return "AR: name=" + name + ", index=" + std::to_string(index) + ", ref=" + std::to_string(ref) +
           ", state=" + state;
  }
};

// a followed by b.
inline std::vector<Push> then(std::vector<Push> a, const std::vector<Push>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
