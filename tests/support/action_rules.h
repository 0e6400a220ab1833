// The action tests' rule (door1, one action of the kind under test) and lookups.
#pragma once

#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "config/autoresponse.h"
#include "support/test_daemon.h"

namespace action_rules {

inline const std::string kRule = "config.autoresponse.autoresponse1";
inline const std::string kTrigger = kRule + ".trigger_actions.action1";
inline const std::string kSensorKey = "config.ports.port1.enviro.temp";
inline const std::string kHot = "35";   // above the trigger value 30, hysteresis 2

// Trigger action "act" of type; with resolve_type also resolve action "undo".
inline ConfigBuilder sensor_rule(const std::string& type, const std::string& resolve_type = "") {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1).set(kRule + ".name", "door1").set(kRule + ".check_type", "environmental");
  c.set(kRule + ".enviro.check_type", "temp").set(kRule + ".enviro.dev_ref", "config.ports.port1.enviro");
  c.set(kRule + ".enviro.trigger_val", "30").set(kRule + ".enviro.hysteresis", "2");
  c.set(kRule + ".trigger_actions.total", 1).set(kTrigger + ".name", "act").set(kTrigger + ".action_type", type);
  if (resolve_type.empty()) return c;
  const std::string undo = kRule + ".resolve_actions.action1";
  c.set(kRule + ".resolve_actions.total", 1).set(undo + ".name", "undo").set(undo + ".action_type", resolve_type);
  return c;
}

// Loads config (in place of any before it) and delivers kHot; every start so far.
inline const std::vector<FakeSpawner::Start>& trigger(TestDaemon& d, const ConfigBuilder& config) {
  d.write_config(config);
  if (d.ctx.config_db != nullptr) unload_config(&d.ctx);
  if (d.load() != 0 || d.ctx.checks.empty() || d.deliver(kSensorKey, kHot) != 0) throw std::runtime_error("no trigger");
  return d.spawner.starts;
}

// Whether the engine pushed a log line holding text (drains what was sent).
inline bool engine_logged(TestDaemon& d, const std::string& text) {
  for (const std::string& s : TestDaemon::values_of(d.take_sent(), "config.autoresponse.log"))
    if (s.find(text) != std::string::npos) return true;
  return false;
}

inline bool logged_at(const TestDaemon& d, int priority, const std::string& text) {
  for (const LogRecord& r : d.logs)
    if (r.priority == priority && r.text.find(text) != std::string::npos) return true;
  return false;
}

inline std::string host_name() { char n[256] = {}; return gethostname(n, 255) == 0 ? n : ""; }

}  // namespace action_rules
