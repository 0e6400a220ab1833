// Helpers for the check module tests: rule configuration snippets, the
// describing operations called as actions call them, and what a check
// published.
#pragma once

#include <string>
#include <vector>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "support/test_daemon.h"

// The three outputs of a describing operation and its result.
struct Described {
  int result = 0;
  OptionalText first;
  OptionalText second;
  OptionalText third;
};

inline Described describe_device_of(ArCheck& check) {
  Described d;
  d.result = check.ops->describe_device(&check, &d.first, &d.second, &d.third);
  return d;
}

inline Described describe_trigger_of(ArCheck& check) {
  Described d;
  d.result = check.ops->describe_trigger(&check, &d.first, &d.second, &d.third);
  return d;
}

// The configuration path of rule n.
inline std::string probe_rule_path(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

// Rule n named "rule<n>" of the given "check_type"; the caller adds its
// check settings and sets config.autoresponse.total.
inline void probe_rule(ConfigBuilder& c, int n, const std::string& check_type) {
  const std::string p = probe_rule_path(n);
  c.set(p + ".name", "rule" + std::to_string(n)).set(p + ".check_type", check_type);
}

// A trigger action of rule n that waits an hour, so a rule without a
// resolve condition stays Triggered instead of going back to Normal as soon
// as its (no) actions are queued.
inline void probe_hold_triggered(ConfigBuilder& c, int n) {
  const std::string p = probe_rule_path(n) + ".trigger_actions";
  c.set(p + ".total", 1)
      .set(p + ".action1.name", "hold")
      .set(p + ".action1.action_type", "custom")
      .set(p + ".action1.delay_time", 3600);
}

// The state names pushed for reference r of rule n, in order.
inline std::vector<std::string> probe_states(const std::vector<SentMessage>& sent, int n, int r = 1) {
  return TestDaemon::values_of(sent, probe_rule_path(n) + ".refs.ref" + std::to_string(r) + ".status");
}

// The current values pushed for reference r of rule n, in order.
inline std::vector<std::string> probe_values(const std::vector<SentMessage>& sent, int n, int r = 1) {
  return TestDaemon::values_of(sent, probe_rule_path(n) + ".refs.ref" + std::to_string(r) + ".curr_entry.status");
}
