// The engine on a clock the tests move, with the exact infod traffic: one rule
// on a sensor whose actions are recorded instead of queued, and the steps the
// engine's tests take with it (readings, ticks, reloads, restarts, silences).
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <functional>
#include <tuple>

#include "base/log.h"
#include "checks/enviro.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "engine/control.h"
#include "engine/start.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "engine/tick.h"
#include "link/link.h"
#include "model/autoresponse.h"
#include "support/rules.h"

inline const std::string kRef = rule_path(1) + ".refs.ref1.";
inline const std::string kLine = "log=AR: name=door1, index=1, ref=1, state=";
inline const std::string kEvent = ", event=" + enviro_key(1) + ", value=";

inline Strings g_offered;  // the actions offered to their queue operation, in order
inline Strings g_paths;    // and their configuration paths

inline int record_queue(const ActionEnv& /*env*/, ArCheck* check, const Action& action, ActionStatus* status) {
  g_offered.push_back(action.name);
  g_paths.push_back(action_path(*check->conf.ar, action));
  *status = kActionQueued;
  return 0;
}

// Says when the count was asked for: after how many queued pushes; infod holds 41.
class RecordingCounter final : public TriggerCounter {
 public:
  explicit RecordingCounter(InfodLink* link) : link_(link) {}
  int fetch(const std::string& key, std::optional<std::string>* stored) override {
    ar_log(kLogInfo, "read %s after %zu pushes", key.c_str(), link_queued(link_).size());
    return *stored = "41", 0;
  }
  void save(const std::string& key, const std::string& text) override { written.push_back(key + "=" + text); }
  std::vector<std::string> written;

 private:
  InfodLink* link_;
};

class EngineFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    g_offered.clear();
    g_paths.clear();
    add_enviro_rule(c.set("config.autoresponse.total", 1), 1, "door1");
  }
  void actions(const std::string& list, const std::vector<std::pair<std::string, int>>& delays) {
    c.set(rule_path(1) + "." + list + ".total", long(delays.size()));
    for (size_t k = 0; k < delays.size(); ++k)
      add_action(c, 1, list, int(k) + 1, delays[k].first, "custom", delays[k].second);
  }
  // Loads with every action's operation replaced by the recorder.
  void load() {
    ASSERT_EQ(0, d.load(c));
    record_actions(*d.ctx.config);
  }
  static void record_actions(LoadedConfig& config) {
    for (AutoResponse& rule : config.rules) {
      for (auto* list : {&rule.trigger_actions, &rule.resolve_actions})
        for (Action& a : list->own()) a.queue = record_queue;
    }
    for (Action& a : config.cms.actions) a.queue = record_queue;  // shared by every rule
  }
  // The daemon started again on c with what it kept.
  void restart() {
    d.take_sent();
    unload_config(&d.ctx);
    d.ctx.engine.silences.clear();  // a new process knows only what it kept
    d.take_sent();
    d.write_config(c);
    ASSERT_EQ(0, open_config(&d.ctx));
    record_actions(*d.ctx.pending);
    engine_start(d.ctx.engine, &d.ctx.config, std::move(d.ctx.pending));
  }
  // What went to infod apart from the daemon's own status: "key=value" of the pushes, with typed "type key" first
  // and the value only of a push; the keys of ref (the first reference of rule 1 unless told) cut short.
  Strings sent(bool typed = false, const std::string& ref = kRef) {
    Strings out;
    for (const SentMessage& m : d.take_sent()) {
      if (m.key.rfind("config.autoresponse.daemon.", 0) == 0) continue;
      const std::string key = m.key.rfind(ref, 0) == 0 ? m.key.substr(ref.size()) : m.key == kLogKey ? "log" : m.key;
      out.push_back((typed ? std::to_string(m.type) + " " : "") + key + (m.type == 1 ? "=" + m.value : ""));
    }
    return out;
  }
  // Moves the clock, then delivers a reading or ticks; what went to infod.
  Strings at(int seconds, const char* reading) {
    d.clock.advance(seconds);
    if (reading == nullptr) d.tick(); else EXPECT_EQ(0, d.deliver(enviro_key(1), reading));
    return sent();
  }
  size_t ticked(int seconds) { return at(seconds, nullptr), g_offered.size(); }
  // The edited c written and read again on SIGHUP.
  void reload(const ConfigBuilder& edited) { d.write_config(edited), reload_config(SIGHUP, 0, &d.ctx); }
  AutoResponse& ar() { return d.ctx.config->rules.front(); }
  // The silence command for rule n, by admin.
  void silence(const std::string& args, int n = 1) {
    EXPECT_EQ(0, d.deliver("config.autoresponse.command", rule_path(n) + ",admin,silence," + args));
    d.take_sent();
  }
  // Rule n, named sms, on every SMS, with one trigger action S.
  void add_rule_sms(int n) {
    c.set(rule_path(n) + ".name", "sms").set(rule_path(n) + ".check_type", "sms").set(rule_path(n) + ".sms.message_pattern", "reboot");
    c.set(rule_path(n) + ".trigger_actions.total", 1);
    add_action(c, n, "trigger_actions", 1, "S", "custom");
  }
  // An SMS; what went to infod, the keys of rule 2's reference cut short.
  Strings sms(const std::string& text) {
    EXPECT_EQ(0, d.deliver("config.sms.incoming", text));
    return sent(false, rule_path(2) + ".refs.ref1.");
  }
  ConfigBuilder c;
  TestDaemon d;
};
