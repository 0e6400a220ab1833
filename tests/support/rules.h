// Configuration snippets the engine tests share.
#pragma once

#include <string>

#include "support/test_daemon.h"

inline std::string rule_path(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

// The update key of the temperature sensor of serial port n.
inline std::string enviro_key(int n) { return "config.ports.port" + std::to_string(n) + ".enviro.temp"; }

// Rule n on that sensor: triggers above 30, resolves at 29 or below (hysteresis 1).
inline void add_enviro_rule(ConfigBuilder& c, int n, const std::string& name = "") {
  const std::string p = rule_path(n), dev_ref = "config.ports.port" + std::to_string(n) + ".enviro";
  c.set(p + ".name", name.empty() ? "rule" + std::to_string(n) : name).set(p + ".check_type", "environmental");
  c.set(p + ".enviro.check_type", "temp").set(p + ".enviro.dev_ref", dev_ref).set(p + ".enviro.trigger_val", "30");
  c.set(p + ".enviro.hysteresis", "1");
}

// Rules 1 to n of that kind, and their total.
inline ConfigBuilder enviro_rules(int n) {
  ConfigBuilder c;
  for (int i = 1; i <= n; ++i) add_enviro_rule(c, i);
  return c.set("config.autoresponse.total", n);
}

// Action k of list ("trigger_actions" or "resolve_actions") of rule n.
inline void add_action(ConfigBuilder& c, int n, const std::string& list, int k, const std::string& name,
                       const std::string& type, int delay = 0) {
  const std::string p = rule_path(n) + "." + list + ".action" + std::to_string(k);
  c.set(p + ".name", name).set(p + ".action_type", type);
  if (delay != 0) c.set(p + ".delay_time", delay);
}
// Action k of list of rule n, the list's last: a custom script, given arg as its one argument unless it is empty.
inline void add_script(ConfigBuilder& c, int n, const std::string& list, int k, const std::string& name,
                       const std::string& script, const std::string& arg = "", int delay = 0) {
  const std::string p = rule_path(n) + "." + list + ".action" + std::to_string(k) + ".custom.";
  add_action(c.set(rule_path(n) + "." + list + ".total", k), n, list, k, name, "custom", delay);
  c.set(p + "script", script);
  if (!arg.empty()) c.set(p + "args.total", 1).set(p + "args.arg1", arg);
}
