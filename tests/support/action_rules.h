// Rules for the action tests: one environmental-sensor rule whose trigger
// (and optionally resolve) action is of the kind under test, a reading
// that triggers it and one that resolves it, and small lookups on what the
// test daemon recorded.
#pragma once

#include <string>
#include <vector>

#include "support/test_daemon.h"

namespace action_rules {

inline const std::string kRule = "config.autoresponse.autoresponse1";
inline const std::string kTrigger = kRule + ".trigger_actions.action1";
inline const std::string kResolve = kRule + ".resolve_actions.action1";
inline const std::string kSensorRef = "config.ports.port1.enviro";
inline const std::string kSensorKey = kSensorRef + ".temp";
inline const std::string kHot = "35";   // above the trigger value 30
inline const std::string kCool = "20";  // below it by more than the hysteresis

// A temperature rule named door1 with one trigger action "act" of type.
// With resolve_type not empty the rule also has one resolve action "undo".
inline ConfigBuilder sensor_rule(const std::string& type, const std::string& resolve_type = "") {
  ConfigBuilder config;
  config.set("config.autoresponse.total", 1)
      .set(kRule + ".name", "door1")
      .set(kRule + ".check_type", "environmental")
      .set(kRule + ".enviro.check_type", "temp")
      .set(kRule + ".enviro.dev_ref", kSensorRef)
      .set(kRule + ".enviro.trigger_val", "30")
      .set(kRule + ".enviro.hysteresis", "2")
      .set(kRule + ".trigger_actions.total", 1)
      .set(kTrigger + ".name", "act")
      .set(kTrigger + ".action_type", type);
  if (!resolve_type.empty()) {
    config.set(kRule + ".resolve_actions.total", 1)
        .set(kResolve + ".name", "undo")
        .set(kResolve + ".action_type", resolve_type);
  }
  return config;
}

// The pushes under the log key so far (drains what was sent).
inline std::vector<std::string> engine_log(TestDaemon& d) {
  return TestDaemon::values_of(d.take_sent(), "config.autoresponse.log");
}

inline bool contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

// Whether a log line at priority contains text.
inline bool logged_at(const TestDaemon& d, int priority, const std::string& text) {
  for (const LogRecord& r : d.logs) {
    if (r.priority == priority && r.text.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace action_rules
