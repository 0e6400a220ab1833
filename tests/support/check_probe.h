// Check module tests: a one-daemon fixture, rules, describing texts, exact pushes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "core/log.h"
#include "support/test_daemon.h"

using Strings = std::vector<std::string>;
using Pushes = std::vector<std::pair<std::string, std::string>>;

inline std::string probe_rule_path(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

inline void probe_rule(ConfigBuilder& c, int n, const std::string& check_type) {
  c.set(probe_rule_path(n) + ".name", "rule" + std::to_string(n)).set(probe_rule_path(n) + ".check_type", check_type);
}

inline Pushes then(Pushes a, const Pushes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// Settings under domain: a list of device references, then the others.
inline Pushes with_refs(const std::string& dom, const Strings& refs, const Pushes& settings = {}) {
  Pushes s{{dom + ".dev_refs.total", std::to_string(refs.size())}};
  for (size_t i = 0; i < refs.size(); ++i) s.emplace_back(dom + ".dev_refs.dev_ref" + std::to_string(i + 1), refs[i]);
  for (const auto& [key, value] : settings) s.emplace_back(dom + "." + key, value);
  return s;
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

class CheckTest : public ::testing::Test {
 protected:
  // Rule n of check_type with settings under its path; hold keeps it Triggered by an action an hour away.
  void rule(int n, const std::string& check_type, const Pushes& settings, bool hold = false) {
    probe_rule(c, n, check_type);
    for (const auto& [key, value] : settings) c.set(probe_rule_path(n) + "." + key, value);
    const std::string p = probe_rule_path(n) + ".trigger_actions";
    if (hold) c.set(p + ".total", 1).set(p + ".action1.name", "hold").set(p + ".action1.delay_time", 3600);
    if (hold) c.set(p + ".action1.action_type", "custom");
  }
  void load(int rules) {
    d.write_config(c.set("config.autoresponse.total", rules));
    ASSERT_EQ(0, d.load());
    for (const SentMessage& m : d.take_sent()) if (m.type == 2) subs.push_back(m.key);
  }
  void set(const std::string& path, const std::string& value) { d.write_config(c.set(path, value)); }
  // The pushes of one update, which must not end the daemon.
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
  // One update that several rules take, each as its step says, in rule order.
  void takes(const std::string& key, const std::string& value, const std::vector<std::pair<int, char>>& rules) {
    Pushes expected;
    for (auto [n, what] : rules) expected = then(expected, RefKeys{n}.step(key, value, what));
    EXPECT_EQ(expected, deliver(key, value)) << key << " " << value;
  }
  // A describing operation of check i as "result|first|second|third"; an unset output reads "-".
  std::string described(size_t i, bool trigger) {
    ArCheck& k = d.check(i);
    OptionalText o[3];
    const auto op = trigger ? k.conf.ops->describe_trigger : k.conf.ops->describe_device;
    const std::string result = std::to_string(op(&k, &o[0], &o[1], &o[2]));
    return result + "|" + o[0].value_or("-") + "|" + o[1].value_or("-") + "|" + o[2].value_or("-");
  }
  std::string device_of(size_t i) { return described(i, false); }
  std::string trigger_of(size_t i) { return described(i, true); }
  bool fatal(const std::string& text) const { return logged_at(d, kLogFatal, text); }
  bool info(const std::string& text) const { return logged_at(d, kLogInfo, text); }
  ConfigBuilder c;
  TestDaemon d;
  Strings subs;  // the keys load subscribed to, in order
};
