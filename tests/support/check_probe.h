// Check module tests: a one-daemon fixture, rules, describing texts, exact pushes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "support/test_daemon.h"

using Strings = std::vector<std::string>;
using Pushes = std::vector<std::pair<std::string, std::string>>;

inline std::string probe_rule_path(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

inline void probe_rule(ConfigBuilder& c, int n, const std::string& check_type) {
  c.set(probe_rule_path(n) + ".name", "rule" + std::to_string(n)).set(probe_rule_path(n) + ".check_type", check_type);
}

// A trigger action of rule n that waits an hour, so the rule stays Triggered.
inline void probe_hold_triggered(ConfigBuilder& c, int n) {
  const std::string p = probe_rule_path(n) + ".trigger_actions";
  c.set(p + ".total", 1).set(p + ".action1.name", "hold").set(p + ".action1.action_type", "custom");
  c.set(p + ".action1.delay_time", 3600);
}

// A describing operation as "result|first|second|third"; an unset output reads "-".
inline std::string described(ArCheck& c, bool trigger) {
  OptionalText o[3];
  std::string s = std::to_string((trigger ? c.ops->describe_trigger : c.ops->describe_device)(&c, &o[0], &o[1], &o[2]));
  for (const OptionalText& t : o) s += "|" + t.value_or("-");
  return s;
}
inline std::string device_of(ArCheck& c) { return described(c, false); }
inline std::string trigger_of(ArCheck& c) { return described(c, true); }

inline Pushes then(Pushes a, const Pushes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Reference ref of rule n (named "rule<n>" by probe_rule) as the state machine names it in infod.
struct RefKeys {
  int n;
  unsigned ref = 1;
  std::string key(const char* tail) const { return probe_rule_path(n) + ".refs.ref" + std::to_string(ref) + tail; }
  // State, value and log line (cut at 127 bytes) of a change; no value without an update key.
  Pushes change(const std::string& state, const std::string& k = "", const std::string& value = "") const {
    const std::string line = "AR: name=rule" + std::to_string(n) + ", index=" + std::to_string(n) +
                             ", ref=" + std::to_string(ref) + ", state=" + state;
    if (k.empty()) return {{key(".status"), state}, {"config.autoresponse.log", line}};
    return {{key(".status"), state}, {key(".curr_entry.status"), value},
            {"config.autoresponse.log", (line + ", event=" + k + ", value=" + value).substr(0, 127)}};
  }
  // One update: '-' none, 'r' refresh, 'T' trigger, 'N' resolve, 'C' trigger (then Normal: no actions).
  Pushes step(const std::string& k, const std::string& value, char what) const {
    if (what == '-' || what == 'r') return what == '-' ? Pushes{} : Pushes{{key(".curr_entry.status"), value}};
    return then(change(what == 'N' ? "Resolving" : "Triggered", k, value), what == 'T' ? Pushes{} : change("Normal"));
  }
};

inline bool logged_at(const TestDaemon& d, int priority, const std::string& text) {
  return std::any_of(d.logs.begin(), d.logs.end(), [&](auto& r) { return r.priority == priority && r.text == text; });
}

// One test daemon; a test adds its rules to c, then loads them.
class CheckTest : public ::testing::Test {
 protected:
  void load(int rules) {
    d.write_config(c.set("config.autoresponse.total", rules));
    ASSERT_EQ(0, d.load());
    for (const SentMessage& m : d.take_sent()) if (m.type == 2) subs.push_back(m.key);
  }
  void set(const std::string& path, const std::string& value) { d.write_config(c.set(path, value)); }
  // One update, which must not end the daemon; the pushes it made.
  Pushes deliver(const std::string& key, const std::string& value) {
    EXPECT_EQ(0, d.deliver(key, value));
    EXPECT_LT(d.ctx.exit_status, 0);
    Pushes out;
    for (const SentMessage& m : d.take_sent()) if (m.type == 1) out.emplace_back(m.key, m.value);
    return out;
  }
  void walk(const RefKeys& r, const std::string& key, const std::vector<std::pair<std::string, char>>& steps) {
    for (const auto& [value, what] : steps) EXPECT_EQ(r.step(key, value, what), deliver(key, value)) << value;
  }
  ConfigBuilder c;
  TestDaemon d;
  Strings subs;  // the keys load subscribed to, in order
};
