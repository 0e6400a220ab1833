// The state machine and the tick: state sequences with their exact infod
// traffic, delays, repeats, reset time-outs and disable windows, on a
// clock the tests move.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "config/autoresponse.h"
#include "engine/state.h"
#include "engine/tick.h"
#include "support/rules.h"
#include "support/test_daemon.h"

namespace {

const std::string kStatus = "config.autoresponse.autoresponse1.refs.ref1.status";
const std::string kCurrent = "config.autoresponse.autoresponse1.refs.ref1.curr_entry.status";
const std::string kLog = "config.autoresponse.log";

// Every queue operation call, as "action name" strings.
std::vector<std::string> g_offered;
int g_result = 0;

int record_queue(ArCheck* /*check*/, ActionEntry* entry) {
  g_offered.push_back(entry->action->name);
  if (g_result == 0) entry->status = kActionQueued;
  return g_result;
}

class Engine : public ::testing::Test {
 protected:
  void SetUp() override {
    g_offered.clear();
    g_result = 0;
    c.set("config.autoresponse.total", 1);
    add_enviro_rule(c, 1, "door1");
  }
  // Loads, replaces every action's operation by the recorder and clears
  // the start-up traffic.
  void load() {
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    for (AutoResponse& ar : d.ctx.autoresponses) {
      for (Action& a : ar.trigger_actions) a.queue = record_queue;
      for (Action& a : ar.resolve_actions) a.queue = record_queue;
    }
    d.take_sent();
  }
  AutoResponse& ar() { return d.ctx.autoresponses.front(); }
  ArCheck& check() { return d.check(0); }
  ConfigBuilder c;
  TestDaemon d;
};

TEST_F(Engine, TriggerResolveTimeoutNormalWithTheirTraffic) {
  c.set(rule_path(1) + ".reset_timeout", 60);
  load();
  ASSERT_EQ(0, d.deliver(enviro_key(1), "31.5"));
  auto sent = d.take_sent();
  EXPECT_EQ(std::vector<std::string>{"Triggered"}, TestDaemon::values_of(sent, kStatus));
  EXPECT_EQ(std::vector<std::string>{"31.5"}, TestDaemon::values_of(sent, kCurrent));
  EXPECT_EQ(std::vector<std::string>{"AR: name=door1, index=1, ref=1, state=Triggered, event=" + enviro_key(1) +
                                     ", value=31.5"},
            TestDaemon::values_of(sent, kLog));

  d.clock.advance(10);
  ASSERT_EQ(0, d.deliver(enviro_key(1), "29"));
  sent = d.take_sent();
  EXPECT_EQ((std::vector<std::string>{"Resolving", "Timeout"}), TestDaemon::values_of(sent, kStatus));
  EXPECT_EQ(std::vector<std::string>{"29"}, TestDaemon::values_of(sent, kCurrent));
  EXPECT_EQ(kArTimeout, check().state);
  EXPECT_FALSE(check().current_event);

  // Updates are dropped in Timeout; Normal comes at the first tick
  // strictly later than 60 seconds after the resolve.
  ASSERT_EQ(0, d.deliver(enviro_key(1), "40"));
  d.clock.advance(60);
  d.tick();
  EXPECT_EQ(kArTimeout, check().state);
  d.clock.advance(1);
  d.tick();
  EXPECT_EQ(kArNormal, check().state);
  EXPECT_EQ(std::vector<std::string>{"Normal"}, TestDaemon::values_of(d.take_sent(), kStatus));
}

TEST_F(Engine, WithoutResetTimeoutResolvingEndsInNormalAtOnce) {
  load();
  d.deliver(enviro_key(1), "31");
  d.take_sent();
  d.deliver(enviro_key(1), "28");
  EXPECT_EQ((std::vector<std::string>{"Resolving", "Normal"}), TestDaemon::values_of(d.take_sent(), kStatus));
}

TEST_F(Engine, RefreshPublishesOnlyTheCurrentValue) {
  load();
  d.deliver(enviro_key(1), "31");
  d.take_sent();
  d.deliver(enviro_key(1), "30");  // 30 + 1 > 30: still triggered
  const auto sent = d.take_sent();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(kCurrent, sent[0].key);
  EXPECT_EQ("30", sent[0].value);
  EXPECT_EQ("30", check().current_event->value);
}

TEST_F(Engine, DelaysReleaseActionsStrictlyInListOrder) {
  c.set(rule_path(1) + ".trigger_actions.total", 3);
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  add_action(c, 1, "trigger_actions", 2, "B", "custom", 12);
  add_action(c, 1, "trigger_actions", 3, "C", "custom");
  load();
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ(std::vector<std::string>{"A"}, g_offered);
  EXPECT_EQ(std::vector<std::string>{"Queuing triggered action: A for AR: door1 - 0 actions in the queue"},
            std::vector<std::string>(1, TestDaemon::values_of(d.take_sent(), kLog).back()));
  d.clock.advance(11);
  d.tick();
  EXPECT_EQ(1u, g_offered.size());
  d.clock.advance(1);
  d.tick();
  // B's delay held C back although C has none.
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), g_offered);
  d.tick();
  EXPECT_EQ(3u, g_offered.size());
  EXPECT_EQ(kArTriggered, check().state);
}

TEST_F(Engine, AnotherTriggerRestartsTheDelayClock) {
  c.set(rule_path(1) + ".trigger_actions.total", 2);
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  add_action(c, 1, "trigger_actions", 2, "B", "custom", 30);
  load();
  d.deliver(enviro_key(1), "31");
  d.clock.advance(20);
  auto again = std::make_unique<CheckEvent>();  // a check that triggers on every change
  again->key = enviro_key(1);
  again->value = "32";
  ar_trigger(&check(), std::move(again));
  EXPECT_EQ(std::vector<std::string>{"A"}, g_offered);  // A is not queued twice
  d.clock.advance(20);
  d.tick();
  EXPECT_EQ(1u, g_offered.size());
  d.clock.advance(10);
  d.tick();
  EXPECT_EQ((std::vector<std::string>{"A", "B"}), g_offered);
}

TEST_F(Engine, SkippedAndFailedActionsAreReportedAndDropped) {
  c.set(rule_path(1) + ".trigger_actions.total", 1);
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  load();
  g_result = 1;
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ("Action A for AR door1, skipped", TestDaemon::values_of(d.take_sent(), kLog).back());
  EXPECT_EQ(kActionDropped, check().trigger_actions[0].status);
  d.tick();
  EXPECT_EQ(1u, g_offered.size());
  d.deliver(enviro_key(1), "20");
  d.take_sent();
  g_result = -1;
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ("Action A for AR door1, queuing failed", TestDaemon::values_of(d.take_sent(), kLog).back());
}

TEST_F(Engine, RuleWithoutResolveStageFinishesWithinOneUpdate) {
  c.set(rule_path(1) + ".trigger_actions.total", 1);
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  load();
  ar().has_resolve = false;
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ((std::vector<std::string>{"Triggered", "Normal"}), TestDaemon::values_of(d.take_sent(), kStatus));
  EXPECT_EQ(1u, g_offered.size());
  ar().reset_timeout = 30;
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ((std::vector<std::string>{"Triggered", "Timeout"}), TestDaemon::values_of(d.take_sent(), kStatus));
}

TEST_F(Engine, RepeatsComeEveryRepeatTimeout) {
  c.set(rule_path(1) + ".trigger_actions.total", 1).set(rule_path(1) + ".repeat_trigger", "on")
      .set(rule_path(1) + ".repeat_timeout", 300);
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  load();
  d.deliver(enviro_key(1), "31");
  for (int i = 0; i < 59; ++i) {
    d.clock.advance(5);
    d.tick();
  }
  EXPECT_EQ(1u, g_offered.size());
  d.clock.advance(5);
  d.tick();
  EXPECT_EQ(2u, g_offered.size());
  d.clock.advance(300);
  d.tick();
  EXPECT_EQ(3u, g_offered.size());
}

TEST_F(Engine, ARepeatTimeoutOfZeroRepeatsOncePerTick) {
  c.set(rule_path(1) + ".trigger_actions.total", 1).set(rule_path(1) + ".repeat_trigger", "on")
      .set(rule_path(1) + ".repeat_timeout", "0");
  add_action(c, 1, "trigger_actions", 1, "A", "custom");
  load();
  d.deliver(enviro_key(1), "31");
  EXPECT_EQ(2u, g_offered.size());  // the trigger, and at most one repeat
  d.tick();
  EXPECT_EQ(3u, g_offered.size());
}

TEST_F(Engine, ResolveActionsIgnoreTheirDelays) {
  c.set(rule_path(1) + ".resolve_actions.total", 2);
  add_action(c, 1, "resolve_actions", 1, "R1", "custom", 100);
  add_action(c, 1, "resolve_actions", 2, "R2", "custom");
  load();
  d.deliver(enviro_key(1), "31");
  d.deliver(enviro_key(1), "29");
  EXPECT_EQ((std::vector<std::string>{"R1", "R2"}), g_offered);
  EXPECT_EQ(kArNormal, check().state);
  EXPECT_EQ(kActionPending, check().resolve_actions[0].status);
}

TEST_F(Engine, MonotonicClockMeasuresDelaysNotWallTime) {
  c.set(rule_path(1) + ".reset_timeout", 60);
  load();
  d.deliver(enviro_key(1), "31");
  d.deliver(enviro_key(1), "20");
  ASSERT_EQ(kArTimeout, check().state);
  d.clock.wall += 86400;  // the wall clock steps a day ahead at boot
  d.tick();
  EXPECT_EQ(kArTimeout, check().state);
}

class Schedule : public Engine {
 protected:
  void SetUp() override {
    Engine::SetUp();
    saved_tz_ = getenv("TZ") != nullptr ? getenv("TZ") : "";
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_tz_.empty()) unsetenv("TZ"); else setenv("TZ", saved_tz_.c_str(), 1);
    tzset();
  }
  // 2026-12-06 was a Sunday; d.clock.wall := that day at hh:mm UTC.
  void at(int hour, int minute) { d.clock.wall = 1796515200 + hour * 3600 + minute * 60; }
  std::string saved_tz_;
};

TEST_F(Schedule, WindowsIncludeBothEndsToTheMinute) {
  const DisableWindow w{9, 0, 17, 0};
  EXPECT_FALSE(disable_window_contains(w, 8, 59));
  EXPECT_TRUE(disable_window_contains(w, 9, 0));
  EXPECT_TRUE(disable_window_contains(w, 17, 0));
  EXPECT_FALSE(disable_window_contains(w, 17, 1));
  EXPECT_FALSE(disable_window_contains(DisableWindow{22, 0, 6, 0}, 23, 0));
  EXPECT_FALSE(disable_window_contains(DisableWindow{22, 0, 6, 0}, 3, 0));
  EXPECT_FALSE(disable_window_contains(DisableWindow{0, 0, 0, 0}, 0, 0));
}

TEST_F(Schedule, SundayIsDayZeroAndATriggeredReferenceComesBackNormal) {
  c.set(rule_path(1) + ".disable.day0.start_hour", 9).set(rule_path(1) + ".disable.day0.end_hour", 17)
      .set(rule_path(1) + ".disable.day1.start_hour", 0).set(rule_path(1) + ".disable.day1.end_hour", 23);
  c.set(rule_path(1) + ".trigger_actions.total", 1);
  add_action(c, 1, "trigger_actions", 1, "late", "custom", 60);
  load();
  at(8, 0);
  d.tick();
  EXPECT_EQ(kArNormal, check().state);
  d.deliver(enviro_key(1), "31");
  ASSERT_EQ(kArTriggered, check().state);
  at(9, 0);
  d.tick();
  EXPECT_EQ(kArDisabled, check().state);
  EXPECT_FALSE(check().current_event);
  d.deliver(enviro_key(1), "40");  // ignored while disabled
  d.clock.advance(120);
  at(17, 1);
  d.tick();
  EXPECT_EQ(kArNormal, check().state);
  EXPECT_TRUE(g_offered.empty());  // the pending action was never queued
  EXPECT_EQ((std::vector<std::string>{"Triggered", "Disabled", "Normal"}),
            TestDaemon::values_of(d.take_sent(), kStatus));
}

}  // namespace
