// Updates handed to the references that take them: one funnel per decision, dropouts, every taker in rule order,
// the statuses of many references, bursts.
#include <gtest/gtest.h>

#include "support/engine_flow.h"

namespace {

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
  EXPECT_EQ(0, reference_apply(d.ctx.engine, &d.check(0), outcome_trigger("again"),
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

}  // namespace
