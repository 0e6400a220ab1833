// What falls due on the tick: delays in list order and to the millisecond, delayed actions that never run,
// repeats, disable windows.
#include <gtest/gtest.h>

#include "support/engine_flow.h"

namespace {

TEST_F(EngineFlow, DelaysReleaseTriggerActionsInListOrderFromTheLastTrigger) {
  actions("trigger_actions", {{"A", 0}, {"B", 12}, {"C", 0}});
  actions("resolve_actions", {{"R1", 100}, {"R2", 0}});
  load();
  EXPECT_EQ("log=Queuing triggered action: A for AR: door1 - 0 actions in the queue", at(0, "31").back());
  // Another trigger (of a check that triggers on every change) restarts the delays, not A.
  d.clock.advance(8);
  reference_trigger(d.ctx.engine, &d.check(0), std::make_unique<CheckEvent>(CheckEvent{enviro_key(1), 0, 0, "32"}));
  EXPECT_EQ(1u, ticked(11));
  EXPECT_EQ(3u, ticked(1));  // B's delay held C back
  // Resolve actions go at once whatever their delays; Normal makes all pending again.
  at(0, "29");
  at(0, "31");
  EXPECT_EQ((Strings{"A", "B", "C", "R1", "R2", "A"}), g_offered);
}

// A delay runs from the trigger's own millisecond, wherever the tick's second falls: 20 s after 10.33 s is due at
// 30.33 s, and the reset time-out ends only once it is over to the millisecond.
TEST_F(EngineFlow, DelaysAndTimeOutsAreMeasuredToTheMillisecond) {
  actions("trigger_actions", {{"A", 20}});
  c.set(rule_path(1) + ".reset_timeout", 5);
  load();
  d.clock.advance_ms(10330);
  at(0, "31");
  for (const int64_t step : {19670, 329}) {
    d.clock.advance_ms(step);
    EXPECT_EQ(0u, ticked(0)) << step;
  }
  d.clock.advance_ms(1);
  EXPECT_EQ(1u, ticked(0));
  d.clock.advance_ms(670);
  at(0, "29");  // Timeout at 31.000
  d.clock.advance_ms(5000);
  EXPECT_EQ(Strings{}, at(0, nullptr));
  d.clock.advance_ms(1);
  EXPECT_EQ((Strings{"status=Normal", kLine + "Normal"}), at(0, nullptr));
}

// Each delayed action that never runs is logged once, with why, whatever ends Triggered.
TEST_F(EngineFlow, DelayedActionsThatNeverRunAreLoggedWithTheReason) {
  actions("trigger_actions", {{"A", 0}, {"B", 60}, {"C", 0}});
  load();
  const std::string cancel = rule_path(1) + ",admin,cancel";
  const struct { std::function<void()> leave; std::string why; } cases[] = {
      {[&] { at(0, "29"); }, "its reference resolved"},
      {[&] { control_handle(d.ctx.engine, cancel.c_str()), at(1, nullptr); }, "it was cancelled"},
      // An edit that moves the rule to another sensor (one that keeps its key carries the state).
      {[&] { reload(c.set(rule_path(1) + ".enviro.dev_ref", "config.ports.port9.enviro")); },
       "the configuration was reloaded"},
  };
  for (const auto& k : cases) {
    at(0, "31");
    d.logs.clear();
    k.leave();
    Strings dropped;
    for (const LogRecord& r : d.logs) if (r.text.rfind("Delayed", 0) == 0) dropped.push_back(r.text);
    EXPECT_EQ((Strings{"Delayed action B for AR door1 dropped: " + k.why, "Delayed action C for AR door1 dropped: " + k.why}),
              dropped);
  }
  EXPECT_EQ((Strings{"A", "A", "A"}), g_offered);
  EXPECT_EQ(Strings{"0 rules unchanged, 1 changed: door1 reset, its delayed actions 'B', 'C' dropped"},
            TestDaemon::values_of(d.take_sent(), "config.autoresponse.daemon.reload.changes"));
  EXPECT_TRUE(d.logged("Reference 1 of AR door1 taken away while Triggered: it has no resolve action"));
}

TEST_F(EngineFlow, RepeatsComeEveryRepeatTimeoutAndAtMostOncePerCall) {
  c.set(rule_path(1) + ".repeat_trigger", "on");  // no time-out set: 300
  actions("trigger_actions", {{"A", 0}});
  load();
  at(0, "31");
  EXPECT_EQ(1u, ticked(299));
  EXPECT_EQ(2u, ticked(1));
  EXPECT_EQ(2u, ticked(299));
  EXPECT_EQ(3u, ticked(1));
  ar().repeat_timeout = 0;  // not an endless loop
  EXPECT_EQ(4u, ticked(0));
}

TEST_F(EngineFlow, SundayIsDayZeroAndADisabledReferenceComesBackNormal) {
  const std::string p = rule_path(1) + ".disable.day";
  c.set(p + "0.start_hour", 9).set(p + "0.start_min", 30).set(p + "0.end_hour", 17).set(p + "0.end_min", 15);
  c.set(p + "1.start_hour", 0).set(p + "1.end_hour", 23);
  actions("trigger_actions", {{"late", 60}});
  load();
  auto tick_at = [&](int hour, int minute) {  // on Sunday 2026-12-06, local time
    tm t{};
    t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 6, t.tm_hour = hour, t.tm_min = minute, t.tm_isdst = -1;
    d.clock.wall = mktime(&t);
    return at(0, nullptr);
  };
  EXPECT_EQ(Strings{}, tick_at(9, 29));
  at(0, "31");
  EXPECT_EQ((Strings{"status=Disabled", kLine + "Disabled"}), tick_at(9, 30));
  EXPECT_EQ(Strings{}, at(0, "40"));  // ignored while disabled
  d.clock.monotonic += 120;           // the action's delay runs out while disabled
  EXPECT_EQ(Strings{}, tick_at(17, 15));
  // The window ends with the reading it hid: judged then, it triggers, and the delay counts from now.
  EXPECT_EQ((Strings{"status=Normal", kLine + "Normal", "status=Triggered", "curr_entry.status=40",
                     kLine + "Triggered" + kEvent + "40"}),
            tick_at(17, 16));
  EXPECT_TRUE(g_offered.empty());
  // An edit that starts the rule again inside its window makes it Disabled at once, never Normal for a moment.
  at(0, "31");
  tick_at(9, 40);
  d.take_sent();
  reload(c.set(rule_path(1) + ".note", "edited"));
  EXPECT_EQ((Strings{"3 " + enviro_key(1), "2 " + enviro_key(1), "1 status=Disabled", "1 " + kLine + "Disabled"}),
            sent(true));
  // A window never wraps past midnight, and an empty one covers nothing.
  EXPECT_FALSE(disable_window_contains(DisableWindow{22, 0, 6, 0}, 23, 0));
  EXPECT_FALSE(disable_window_contains(DisableWindow{22, 0, 6, 0}, 3, 0));
  EXPECT_FALSE(disable_window_contains(DisableWindow{5, 5, 5, 5}, 5, 5));
}

}  // namespace
