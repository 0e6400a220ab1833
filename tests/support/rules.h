// Configuration snippets the engine tests share.
#pragma once

#include <string>

#include "support/test_daemon.h"

// The configuration path of rule n.
inline std::string rule_path(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

// An environmental rule n on the temperature of a serial-port sensor of
// port n: triggers above 30, resolves at 29 or below (hysteresis 1).
inline void add_enviro_rule(ConfigBuilder& c, int n, const std::string& name = "") {
  const std::string p = rule_path(n);
  c.set(p + ".name", name.empty() ? "rule" + std::to_string(n) : name)
      .set(p + ".check_type", "environmental")
      .set(p + ".enviro.check_type", "temp")
      .set(p + ".enviro.dev_ref", "config.ports.port" + std::to_string(n) + ".enviro")
      .set(p + ".enviro.trigger_val", "30")
      .set(p + ".enviro.hysteresis", "1");
}

// The update key of that sensor.
inline std::string enviro_key(int n) { return "config.ports.port" + std::to_string(n) + ".enviro.temp"; }

// Adds action k of list ("trigger_actions" or "resolve_actions") to rule n.
inline void add_action(ConfigBuilder& c, int n, const std::string& list, int k, const std::string& name,
                       const std::string& type, int delay = 0) {
  const std::string p = rule_path(n) + "." + list + ".action" + std::to_string(k);
  c.set(p + ".name", name).set(p + ".action_type", type);
  if (delay != 0) c.set(p + ".delay_time", delay);
}
