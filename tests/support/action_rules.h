// The action tests' rule (door1, one action of the kind under test), what triggering it did, and lookups.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/log.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "model/autoresponse.h"
#include "support/rules.h"


inline const std::string kRule = "config.autoresponse.autoresponse1", kTrigger = kRule + ".trigger_actions.action1";
inline const std::string kSensorKey = "config.ports.port1.enviro.temp", kHot = "35";  // above 30, hysteresis 2

// Trigger action "act" of type; with resolve, also resolve action "undo" of that type.
inline ConfigBuilder sensor_rule(const std::string& type, const std::string& resolve = "") {
  ConfigBuilder c;
  add_enviro_rule(c.set("config.autoresponse.total", 1), 1, "door1");
  add_action(c.set(kRule + ".enviro.hysteresis", "2").set(kRule + ".trigger_actions.total", 1), 1, "trigger_actions",
             1, "act", type);
  if (!resolve.empty()) add_action(c.set(kRule + ".resolve_actions.total", 1), 1, "resolve_actions", 1, "undo", resolve);
  return c;
}

// Loads config (in place of any before it) and delivers kHot; every start so far.
inline const std::vector<FakeSpawner::Start>& trigger(TestDaemon& d, const ConfigBuilder& config) {
  d.write_config(config);
  if (d.ctx.config != nullptr) unload_config(&d.ctx);
  if (d.load() != 0 || d.ctx.config->checks.empty() || d.deliver(kSensorKey, kHot) != 0) throw std::runtime_error("no trigger");
  return d.spawner.starts;
}

// The contents of the regular files in dir, sorted; with take, the files are removed.
inline Strings files_in(const std::string& dir, bool take = false) {
  Strings all;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    std::ifstream in(e.path(), std::ios::binary);
    if (e.is_regular_file()) all.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (take) std::filesystem::remove(e.path());
  }
  std::sort(all.begin(), all.end());
  return all;
}

// What triggering config did: each new start's path, arguments ('' when empty) and environment, queue tags
// other than 0, interface commands, SMS spooled (taken), the first action's fate; the daemon's directory is "~".
inline std::string outcome(TestDaemon& d, const ConfigBuilder& config) {
  d.spawner.starts.clear();
  std::string text;
  for (const FakeSpawner::Start& s : trigger(d, config)) {
    text += s.path + ":";
    for (const std::string& a : s.argv) text += " " + (a.empty() ? "''" : a);
    for (const std::string& e : s.envp) text += " [" + e + "]";
    text += "; ";
  }
  for (const QueuedAction& q : d.ctx.queue.entries()) if (q.tag != 0) text += "tag " + std::to_string(q.tag) + "; ";
  const std::vector<SentMessage> sent = d.take_sent();
  for (const SentMessage& m : sent) {
    if (m.key.find("ar_ctl") == std::string::npos) continue;
    text += "sent " + std::to_string(m.type) + " " + m.key + " " + std::to_string(m.number) + " " + m.value + "; ";
  }
  for (const std::string& f : files_in(d.paths.sms_outgoing_dir, true)) text += "spooled " + f + "; ";
  const Strings log = TestDaemon::values_of(sent, "config.autoresponse.log");
  const int32_t status = d.check(0).trigger_status()[0];
  if (std::count(log.begin(), log.end(), "Action act for AR door1, queuing failed") > 0) text += "failed";
  else text += status == kActionQueued ? "queued" : status == kActionDropped ? "done" : std::to_string(status);
  for (size_t at; (at = text.find(d.dir())) != std::string::npos;) text.replace(at, d.dir().size(), "~");
  return text;
}

inline std::string host_name() { char n[256] = {}; return gethostname(n, 255) == 0 ? n : ""; }
