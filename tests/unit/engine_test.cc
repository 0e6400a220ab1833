// The state machine and the tick on a clock the tests move, with the exact infod traffic.
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
#include "engine/dispatch.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "engine/tick.h"
#include "link/link.h"
#include "model/autoresponse.h"
#include "support/rules.h"

namespace {

const std::string kRef = rule_path(1) + ".refs.ref1.";
const std::string kLine = "log=AR: name=door1, index=1, ref=1, state=";
const std::string kEvent = ", event=" + enviro_key(1) + ", value=";

Strings g_offered;  // the actions offered to their queue operation, in order
Strings g_paths;    // and their configuration paths

int record_queue(const ActionEnv& /*env*/, ArCheck* check, const Action& action, ActionStatus* status) {
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

// One funnel per decision: reason logged, state, value and line pushed, then the count asked for.
TEST_F(EngineFlow, TriggerRefreshResolveTimeoutNormalWithTheirTrafficThroughOneFunnel) {
  c.set(rule_path(1) + ".reset_timeout", 60);
  load();
  RecordingCounter counter(&d.ctx.link);
  d.ctx.engine.counter = &counter;
  d.logs.clear();
  EXPECT_EQ((Strings{"status=Triggered", "curr_entry.status=31.5", kLine + "Triggered" + kEvent + "31.5"}),
            at(0, "31.5"));
  EXPECT_EQ(Strings{"curr_entry.status=30"}, at(0, "30"));  // 30 + 1 > 30: still triggered
  EXPECT_EQ((Strings{"status=Resolving", "curr_entry.status=29", kLine + "Resolving" + kEvent + "29",
                     "status=Timeout", kLine + "Timeout"}),
            at(10, "29"));
  Strings lines;
  for (const LogRecord& r : d.logs) lines.push_back(r.text);
  std::string counter_key;
  enviro_counter_key(enviro_key(1), &counter_key);
  EXPECT_EQ(Strings{counter_key + "=42"}, counter.written);
  EXPECT_EQ((Strings{"AR " + rule_path(1) + " triggered. val 31.500000 vs trigger 30.000000",
                     "read " + counter_key + " after 3 pushes", counter_key + " => 42",
                     "ar " + rule_path(1) + " resolving. val 29.000000 vs 30.000000"}),
            lines);
  // Timeout drops updates and ends at the first tick over 60 s later by the monotonic clock; the level it last saw
  // is judged then, as if it had just come.
  EXPECT_EQ(Strings{}, at(0, "40"));
  d.clock.wall += 86400;
  EXPECT_EQ(Strings{}, at(60, nullptr));
  EXPECT_EQ((Strings{"status=Normal", kLine + "Normal", "status=Triggered", "curr_entry.status=40",
                     kLine + "Triggered" + kEvent + "40"}),
            at(1, nullptr));
  // A Timeout a cancel began ends in Normal, whatever it saw: the operator's cancel waits for the next update.
  EXPECT_EQ(0, d.deliver("config.autoresponse.command", rule_path(1) + ",admin,cancel"));
  d.take_sent();
  EXPECT_EQ(Strings{}, at(0, "45"));
  EXPECT_EQ((Strings{"status=Normal", kLine + "Normal"}), at(61, nullptr));
}

// A dropout ("N/A") changes nothing and is reported once until a reading comes again.
TEST_F(EngineFlow, UpdatesWithoutAReadingChangeNothingAndAreReportedOncePerDropout) {
  load();
  const std::string warning = "Reading is not a number for AR door1: N/A";
  Strings pushed;
  for (const char* reading : {"N/A", "N/A", "20", "N/A", "31", "N/A", "abc", "29", "N/A"}) {
    for (const std::string& push : at(0, reading)) pushed.push_back(push.substr(0, push.find('=')));
  }
  EXPECT_EQ((Strings{"status", "curr_entry.status", "log", "status", "curr_entry.status", "log", "status", "log"}),
            pushed);  // triggered by 31, resolved by 29 (Resolving, then Normal), nothing else
  Strings warnings;
  for (const LogRecord& r : d.logs) if (r.priority == kLogWarn) warnings.push_back(r.text);
  EXPECT_EQ((Strings{warning, warning, warning, warning}), warnings);
}

// A rule whose check drops the update (a bad pattern) stops no other; no resolve stage: Normal at once.
TEST(EngineDispatch, OneUpdateGoesToEveryTakerInRuleOrder) {
  TestDaemon d;
  ConfigBuilder c;
  const char* patterns[] = {"[", "^reboot", "status"};
  for (int n = 1; n <= 3; ++n) {
    c.set(rule_path(n) + ".name", "sms" + std::to_string(n)).set(rule_path(n) + ".check_type", "sms");
    c.set(rule_path(n) + ".sms.message_pattern", patterns[n - 1]);
  }
  ASSERT_EQ(0, d.load(c.set("config.autoresponse.total", 3)));
  ASSERT_EQ(0, d.deliver("config.sms.incoming", "123:reboot status"));
  Strings want;
  for (const char* n : {"2", "3"}) {
    const std::string ref = rule_path(std::stoi(n)) + ".refs.ref1.";
    const std::string line = kLogKey + ("=AR: name=sms" + std::string(n)) + ", index=" + n + ", ref=1, state=";
    for (const std::string& push : {ref + "status=Triggered", ref + "curr_entry.status=123:reboot status",
                                    line + "Triggered, event=config.sms.incoming, value=123:reboot status",
                                    ref + "status=Normal", line + "Normal"})
      want.push_back(push);
  }
  Strings pushed;
  for (const SentMessage& m : d.take_sent()) pushed.push_back(m.key + "=" + m.value);
  EXPECT_EQ(want, pushed);
  EXPECT_TRUE(d.logged("Failed to compile regex [: error"));
  // Other types, updates without a value and keys nobody takes are ignored; the daemon goes on.
  for (std::string body : {"5\x1esome.key\x1evalue", "8\x1eonly.a.key\r\n", "8\x1eno.one\x1e" "0\x1e" "1\x1ex", ""}) {
    EXPECT_EQ(0, d.take(body)) << body;
  }
  EXPECT_TRUE(d.logged("Invalid message from infod"));
  EXPECT_TRUE(d.take_sent().empty());
}

TEST_F(EngineFlow, DelaysReleaseTriggerActionsInListOrderFromTheLastTrigger) {
  actions("trigger_actions", {{"A", 0}, {"B", 12}, {"C", 0}});
  actions("resolve_actions", {{"R1", 100}, {"R2", 0}});
  load();
  EXPECT_EQ("log=Queuing triggered action: A for AR: door1 - 0 actions in the queue", at(0, "31").back());
  // Another trigger (of a check that triggers on every change) restarts the delays, not A.
  d.clock.advance(8);
  ar_trigger(d.ctx.engine, &d.check(0), std::make_unique<CheckEvent>(CheckEvent{enviro_key(1), 0, 0, "32"}));
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

// Every reference keeps its own statuses, more than fit beside it.
TEST_F(EngineFlow, CentralManagementNodesComeFirstAndEachReferenceRunsEveryActionOnce) {
  c.set("config.cms.enabled", "on").set("config.cms.cms1.delay_time", 0).set("config.cms.other.delay_time", 0);
  c.set("config.cms.cms2.delay_time", 5).set(rule_path(1) + ".enviro.dev_refs.total", 2);
  actions("trigger_actions", {{"A", 0}, {"B", 0}, {"C", 0}, {"D", 0}, {"E", 0}, {"F", 9}, {"G", 0}});
  actions("resolve_actions", {{"R1", 0}, {"R2", 60}});
  load();
  ASSERT_EQ(2u, d.ctx.config->checks.size());
  const std::string cms1 = "config.cms.cms1", cms2 = "config.cms.cms2", t = rule_path(1) + ".trigger_actions.action";
  const std::string r = rule_path(1) + ".resolve_actions.action";
  at(0, "31");
  EXPECT_EQ((Strings{cms1, cms1}), g_paths);  // cms2's delay holds the rest back, for both references
  at(5, nullptr);
  at(4, nullptr);
  Strings want{cms1, cms1};
  for (const std::string& first : {cms2, t + "1", t + "2", t + "3", t + "4", t + "5"}) want.push_back(first);
  for (const std::string& first : {cms2, t + "1", t + "2", t + "3", t + "4", t + "5"}) want.push_back(first);
  for (const std::string& late : {t + "6", t + "7", t + "6", t + "7"}) want.push_back(late);
  ASSERT_EQ(want, g_paths);
  // Resolve actions go at once; the next trigger starts over at the first node.
  at(0, "29");
  at(0, "31");
  for (int ref = 0; ref < 2; ++ref) for (const std::string& path : {cms1, cms2, r + "1", r + "2"}) want.push_back(path);
  for (int ref = 0; ref < 2; ++ref) want.push_back(cms1);
  EXPECT_EQ(want, g_paths);
  EXPECT_EQ("CMS action", g_offered.front());
  EXPECT_EQ("G", g_offered[15]);
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

// A reload that leaves the rule alone leaves its reference alone: nothing is sent, its delayed action runs at its
// time and it still resolves.
TEST_F(EngineFlow, AReloadThatKeepsTheRuleKeepsItsReferenceRunning) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}});
  actions("resolve_actions", {{"R", 0}});
  load();
  at(0, "31");
  d.take_sent();
  reload(c.set("config.autoresponse.concurrent_actions", 4));
  EXPECT_EQ(Strings{}, sent(true));
  EXPECT_EQ(1u, ticked(29));
  EXPECT_EQ(2u, ticked(1));
  at(0, "29");
  EXPECT_EQ((Strings{"A", "B", "R"}), g_offered);
}

// A restart resumes from what the daemon kept: the reference publishes the state it had, not Normal; what was
// queued is not queued again; a delayed action still due runs at its time, one that fell due while the daemon was
// down runs at start, and the rule still resolves. A rule edited meanwhile starts afresh.
TEST_F(EngineFlow, ARestartResumesWhatTheDaemonKeptOfTheVeryRule) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}, {"C", 90}});
  actions("resolve_actions", {{"R", 0}});
  load();
  at(0, "31");
  d.clock.advance(10);
  restart();
  // Its level is asked of infod once it is subscribed.
  const Strings triggered{"2 " + enviro_key(1), "1 status=Triggered", "1 curr_entry.status=31",
                          "1 " + kLine + "Triggered" + kEvent + "31", "4 " + enviro_key(1)};
  EXPECT_EQ(triggered, sent(true));
  EXPECT_EQ(1u, ticked(19));
  EXPECT_EQ(2u, ticked(1));
  d.clock.advance(70);
  restart();
  EXPECT_EQ((Strings{"A", "B", "C"}), g_offered);
  at(0, "29");
  EXPECT_EQ((Strings{"A", "B", "C", "R"}), g_offered);
  at(0, "31");
  c.set(rule_path(1) + ".note", "edited");
  restart();
  EXPECT_EQ((Strings{"2 " + enviro_key(1), "1 status=Normal", "1 " + kLine + "Normal", "4 " + enviro_key(1)}), sent(true));
}

// A burst of three within a minute: the reports before the third change nothing but a log line, one more than the
// window before falls out, and the trigger starts the count again. Reports of a check that triggers on every change
// count while Triggered too, and restart nothing there. A reload that keeps the rule keeps its count; a restart
// starts it from zero.
TEST_F(EngineFlow, ABurstTriggersOnlyAtItsCountthReportWithinItsWindow) {
  c.set(rule_path(1) + ".burst.count", 3).set(rule_path(1) + ".burst.window", 60);
  actions("trigger_actions", {{"A", 0}, {"B", 20}});
  actions("resolve_actions", {{"R", 0}});
  load();
  const Strings triggered{"status=Triggered", "curr_entry.status=31", kLine + "Triggered" + kEvent + "31"};
  const auto counted = [&](int seconds, int k) {
    d.logs.clear();
    EXPECT_EQ(Strings{}, at(seconds, "31")) << k;
    ASSERT_EQ(1u, d.logs.size());
    EXPECT_EQ(kLogInfo, d.logs[0].priority);
    EXPECT_EQ("AR door1 ref 1: " + std::to_string(k) + " of 3 within 60 s", d.logs[0].text);
  };
  counted(0, 1);
  counted(30, 2);
  counted(31, 2);  // at 61 s the first is more than 60 s old
  Strings pushed = at(29, "31");  // at 90 s the one at 30 s is 60 s old, and counts
  pushed.resize(3);
  EXPECT_EQ(triggered, pushed);
  EXPECT_EQ(Strings{"A"}, g_offered);
  at(1, "29");
  counted(1, 1);  // 61 s and 90 s no longer count
  counted(1, 2);
  reload(c.set("config.autoresponse.concurrent_actions", 4));
  EXPECT_EQ(triggered[0], at(1, "31").front());  // at 94 s
  // Triggered, a report of a trigger is counted, and B still comes 20 s after the trigger.
  d.clock.advance(6);
  d.logs.clear();
  EXPECT_EQ(0, ar_apply(d.ctx.engine, &d.check(0), outcome_trigger("again"),
                        std::make_unique<CheckEvent>(CheckEvent{enviro_key(1), 0, 0, "40"})));
  EXPECT_EQ(Strings{"AR door1 ref 1: 1 of 3 within 60 s"}, d.log.texts());
  EXPECT_EQ(3u, ticked(13));
  EXPECT_EQ(4u, ticked(1));
  at(1, "29");
  restart();
  d.take_sent();
  counted(1, 1);  // the one at 100 s is forgotten
  EXPECT_EQ((Strings{"A", "R", "A", "B", "R"}), g_offered);
}

// The daemon takes a burst with both settings, a count from 2 and a window from 1 s, and cuts the count at 1000;
// anything else leaves the rule without one.
TEST(EngineBurst, TheLoaderTakesABurstOnlyWhenItCanCount) {
  const struct { const char *count, *window; int32_t taken_count, taken_window; } rows[] = {
      {"5", "60", 5, 60}, {"5000", "60", 1000, 60}, {"1", "60", 0, 0},
      {"5", "0", 0, 0},   {"5", "", 0, 0},         {"", "60", 0, 0}};
  for (const auto& row : rows) {
    TestDaemon d;
    const std::string p = rule_path(1) + ".burst.";
    ASSERT_EQ(0, d.load(enviro_rules(1).set(p + "count", row.count).set(p + "window", row.window)));
    const AutoResponse& ar = d.ctx.config->rules.front();
    EXPECT_EQ(std::make_pair(row.taken_count, row.taken_window), std::make_pair(ar.burst_count, ar.burst_window))
        << row.count << " " << row.window;
  }
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

// While silenced a reference is evaluated and changes state as usual, but each action that falls due is logged and
// held back; at the silence's end, to the millisecond, a reference still Triggered runs what was held (each delayed
// one at its time), and one that triggered and resolved inside the silence runs nothing.
TEST_F(EngineFlow, ASilenceHoldsActionsBackAndSettlesThemAtItsEnd) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}});
  actions("resolve_actions", {{"R", 0}});
  load();
  silence("60,0,maintenance");
  const std::string until = silence_until_text(d.ctx.engine, d.clock.monotonic_ms() + 60000);
  EXPECT_EQ((Strings{"status=Triggered", "curr_entry.status=31", kLine + "Triggered" + kEvent + "31"}), at(0, "31"));
  EXPECT_EQ(0u, ticked(30));  // B falls due inside the silence
  EXPECT_EQ((Strings{"status=Resolving", "curr_entry.status=29", kLine + "Resolving" + kEvent + "29",
                     "status=Normal", kLine + "Normal"}),
            at(0, "29"));
  at(0, "31");  // at 30 s, again: A is held, B falls due at 60 s
  for (const auto& [action, times] : {std::pair{"A", 2}, {"B", 1}, {"R", 1}}) {
    EXPECT_EQ(times, d.logged_at(kLogInfo, "Silenced action " + std::string(action) + " for AR door1: until " + until +
                                               ", by admin"));
  }
  d.clock.advance_ms(29999);
  EXPECT_EQ(0u, ticked(0));
  d.clock.advance_ms(1);
  EXPECT_EQ(2u, ticked(0));  // the held A, and B due as the silence ends
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of every reference of AR " + rule_path(1) + " ended: its time came"));
  at(0, "29");
  at(0, "31");
  EXPECT_EQ((Strings{"A", "B", "R", "A"}), g_offered);
  EXPECT_TRUE(d.ctx.engine.silences.empty());
}

// What a silence settles, by how the incident and the silence met.
TEST_F(EngineFlow, ASilenceSettlesByHowTheIncidentMetIt) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}});
  actions("resolve_actions", {{"R", 0}});
  const struct {
    const char* name;
    std::vector<std::pair<int, const char*>> before, inside;  // seconds to wait, then a reading (null: a tick)
    Strings offered;
  } cases[] = {
      {"triggered before, resolved inside: the held resolve runs", {{0, "31"}}, {{10, "29"}}, {"A", "R"}},
      {"triggered before, B due inside, still Triggered: B runs", {{0, "31"}}, {{40, nullptr}}, {"A", "B"}},
      {"triggered and resolved inside: nothing runs", {}, {{0, "31"}, {10, "29"}}, {}},
      {"resolved inside, triggered again inside: the new trigger's actions, its delayed one too",
       {{0, "31"}}, {{0, "29"}, {0, "31"}}, {"A", "A", "B"}},
  };
  for (const auto& k : cases) {
    g_offered.clear();
    c.set(rule_path(1) + ".note", k.name);
    load();
    at(0, "20");
    g_offered.clear();
    for (const auto& [wait, reading] : k.before) at(wait, reading);
    silence("60,0");
    for (const auto& [wait, reading] : k.inside) at(wait, reading);
    d.clock.advance(60);
    d.tick();
    d.take_sent();
    EXPECT_EQ(k.offered, g_offered) << k.name;
    d.ctx.engine.silences.clear();
  }
}

// A reference of a check that only triggers returns to Normal, so what a silence held of it is settled as resolved
// inside the silence: nothing runs, and the first event after the silence acts. A level still Triggered runs what
// was held when the silence ends, and its repeats go on as usual.
TEST_F(EngineFlow, AfterASilenceTheNextEventOrRepeatActs) {
  c.set("config.autoresponse.total", 2).set(rule_path(1) + ".repeat_trigger", "on").set(rule_path(1) + ".repeat_timeout", 100);
  add_rule_sms(2);
  actions("trigger_actions", {{"A", 0}});
  load();
  silence("150,0");
  silence("150,0", 2);
  at(0, "31");
  EXPECT_EQ((Strings{"status=Triggered", "curr_entry.status=123:reboot", "log=AR: name=sms, index=2, ref=1, "
                     "state=Triggered, event=config.sms.incoming, value=123:reboot", "status=Normal",
                     "log=AR: name=sms, index=2, ref=1, state=Normal"}),
            sms("123:reboot"));
  EXPECT_EQ(0u, ticked(100));  // the first repeat, held
  EXPECT_EQ(1u, ticked(50));   // the silence ends: the held repeat runs
  EXPECT_EQ(2u, ticked(50));   // the next repeat, 100 s after the last
  sms("123:reboot");
  EXPECT_EQ((Strings{"A", "A", "S"}), g_offered);
}

// Silences belong to the rule's path: they outlive a reload that builds the rule again and a restart, even one on
// an edited rule, and end with the rule.
TEST_F(EngineFlow, ASilenceOutlivesReloadsAndRestartsAndEndsWithItsRule) {
  actions("trigger_actions", {{"A", 0}});
  load();
  silence("600,1,rack move");
  reload(c.set(rule_path(1) + ".note", "edited"));
  record_actions(*d.ctx.config);
  c.set(rule_path(1) + ".note", "edited again");
  d.clock.advance(100);
  restart();
  at(0, "31");
  EXPECT_EQ(Strings{}, g_offered);
  ASSERT_EQ(1u, d.ctx.engine.silences[rule_path(1)].size());
  const Silence& s = d.ctx.engine.silences[rule_path(1)][0];
  EXPECT_EQ((std::tuple<uint32_t, int64_t, std::string, std::string>(1, d.clock.monotonic_ms() + 500000, "admin",
                                                                     "rack move")),
            std::tie(s.ref, s.until_ms, s.origin, s.reason));
  reload(c.set("config.autoresponse.total", 0));
  EXPECT_TRUE(d.ctx.engine.silences.empty());
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of reference 1 of AR " + rule_path(1) + " ended: the rule was removed"));
}

}  // namespace
