// A restart on clocks the tests move: the daemon's process ends at any instant and a new one takes up what it kept,
// never running an action twice, never granting what the configuration cannot give.
#include <gtest/gtest.h>

#include <memory>

#include "daemon/reload.h"
#include "engine/restart.h"
#include "engine/restart_record.h"
#include "engine/state.h"
#include "support/engine_flow.h"
#include "support/rules.h"
#include "support/zone_guard.h"

namespace {

const std::string kRack = rule_path(1);

// Starts of programs as "script arg", across every process.
Strings g_runs;

class Restart : public ::testing::Test {
 protected:
  void SetUp() override {
    g_runs.clear();
    add_enviro_rule(c.set("config.autoresponse.total", 1), 1, "rack");
    start();
  }
  // A process of the daemon starts on c with what the last one kept, on the clocks as they were.
  void start(int64_t clock_step = 0, const std::string& boot = "b007") {
    MemoryRecords kept;
    FakeClock clock;
    if (d != nullptr) kept = d->records, clock = d->clock;
    d.reset();  // the process ends before the next begins
    d = std::make_unique<TestDaemon>();
    d->records = kept;
    d->clock = clock;
    d->clock.wall += clock_step;
    d->ctx.engine.boot_id = boot;
    d->spawner.on_spawn = [this](const FakeSpawner::Start& s) {
      g_runs.push_back(s.argv.empty() ? s.path : s.argv[0] + " " + (s.argv.size() > 1 ? s.argv[1] : ""));
      if (on_spawn) on_spawn(s);
    };
    d->write_config(c);
    ASSERT_EQ(0, open_config(&d->ctx));
    start_config(&d->ctx);
    d->take_sent();
  }
  void at(int seconds, const char* reading) {
    d->clock.advance(seconds);
    if (reading == nullptr) d->tick(); else EXPECT_EQ(0, d->deliver(enviro_key(1), reading));
    d->take_sent();
  }
  std::string state() { return reference_state_name(d->check(0).state); }
  std::function<void(const FakeSpawner::Start&)> on_spawn;
  const ZoneGuard zone{"UTC0"};
  ConfigBuilder c;
  std::unique_ptr<TestDaemon> d;
};

// What ran is not run again, what waited runs once under the limit with the update and the time it was queued
// for, a delayed action that fell due meanwhile runs at start, and the records that say so are written before each
// program starts.
TEST_F(Restart, WhatRanDoesNotRunAgainAndWhatWaitedRunsOnceAsItWasQueued) {
  c.set("config.autoresponse.concurrent_actions", 1);
  add_script(c, 1, "trigger_actions", 1, "hold", "/bin/hold", "$AR_VAL");
  add_script(c, 1, "trigger_actions", 2, "next", "/bin/next", "$AR_VAL at $TIMESTAMP");
  add_script(c, 1, "trigger_actions", 3, "later", "/bin/later", "$AR_VAL", 30);
  start();
  on_spawn = [this](const FakeSpawner::Start& s) {
    // Before the program starts, the restart records say it has and in which state its rule is.
    const std::map<std::string, std::string> kept = d->records.read_all();
    bool started = false;
    for (const auto& [name, text] : kept) started = started || (name.rfind("run.", 0) == 0 && text.empty());
    EXPECT_TRUE(started) << s.path;
    RestartRule rule;
    ASSERT_TRUE(kept.count("rule.1") && restart_rule_parse(kept.at("rule.1"), &rule)) << s.path;
    EXPECT_EQ(kArTriggered, rule.refs.at(0).state) << s.path;
  };
  at(0, "31");
  EXPECT_EQ(Strings{"/bin/hold 31"}, g_runs);
  const std::string queued_at = "31 at 2023 Nov 14 22:13:20";  // the fake clock's wall time when it was queued
  at(40, nullptr);  // "later" falls due and waits behind "next"
  start();          // 40 s on: the process ended with "hold" running, "next" and "later" waiting
  EXPECT_EQ((Strings{"/bin/hold 31", "/bin/next " + queued_at}), g_runs);
  EXPECT_EQ("Triggered", state());
  EXPECT_TRUE(d->logged("Action hold for AR rack was running when the daemon stopped: not run again"));
  EXPECT_EQ(1, d->ctx.queue.running());
  d->child_exits(d->spawner.starts.back().pid, 0);
  EXPECT_EQ((Strings{"/bin/hold 31", "/bin/next " + queued_at, "/bin/later 31"}), g_runs);
  start();  // "later" was running
  at(0, "20");
  at(0, "31");  // a new trigger runs everything again
  EXPECT_EQ(4u, g_runs.size());
  EXPECT_EQ("/bin/hold 31", g_runs.back());
}

// A waiting action of a reference that resolved and came back Normal before the process ended still runs, but owns
// nothing of the Normal reference: its next trigger queues every action afresh.
TEST_F(Restart, ANormalReferenceIsArmedWhateverWaitedForItsLastTrigger) {
  add_enviro_rule(c.set("config.autoresponse.total", 2).set("config.autoresponse.concurrent_actions", 1), 2);
  add_script(c, 2, "trigger_actions", 1, "slow", "/bin/slow");
  add_script(c, 1, "trigger_actions", 1, "cut", "/bin/cut");
  start();
  EXPECT_EQ(0, d->deliver(enviro_key(2), "31"));
  at(0, "31");
  at(0, "20");
  EXPECT_EQ(Strings{"/bin/slow "}, g_runs);  // "cut" waits behind "slow"
  start();
  EXPECT_EQ((Strings{"/bin/slow ", "/bin/cut "}), g_runs);
  d->child_exits(d->spawner.starts.back().pid, 0);
  EXPECT_EQ("Normal", state());
  at(0, "31");
  EXPECT_EQ((Strings{"/bin/slow ", "/bin/cut ", "/bin/cut "}), g_runs);
}

// A record the configuration cannot give is refused with its reason and the reference starts afresh; an action
// whose rule, reference or action is not what it was queued for is dropped, and nothing of it runs.
TEST_F(Restart, WhatTheConfigurationCannotGiveIsRefused) {
  add_script(c, 1, "trigger_actions", 1, "cut", "/bin/cut", "", 600);
  start();
  at(0, "31");
  const std::string record = d->records.read_all().at("rule.1");
  RestartRule triggered;
  ASSERT_TRUE(restart_rule_parse(record, &triggered));
  const int64_t now = d->clock.monotonic_ms();
  const struct {
    const char* name;
    std::function<void(RestartReference&)> change;
    const char* why;
  } refused[] = {
      {"Disabled outside a window", [](RestartReference& r) { r.state = kArDisabled, r.event.reset(); },
       "Disabled, but no window of the rule is open now"},
      {"Timeout without a reset_timeout", [](RestartReference& r) { r.state = kArTimeout, r.event.reset(); },
       "Timeout, but the rule has no reset_timeout"},
      {"a state entered later", [now](RestartReference& r) { r.since_ms = now + 3600000; },
       "it entered its state in the future"},
      {"statuses of actions the rule lacks", [](RestartReference& r) { r.statuses.push_back(kActionQueued); },
       "it holds 2 action statuses, the rule has 1"},
      {"Triggered without its update", [](RestartReference& r) { r.event.reset(); }, "it has no update"},
  };
  for (const auto& r : refused) {
    RestartRule changed = triggered;
    r.change(changed.refs[0]);
    d->records.write("rule.1", restart_rule_format(changed));
    start(0);
    EXPECT_EQ("Normal", state()) << r.name;
    EXPECT_TRUE(d->logged(std::string("Restart record of AR rack ref 1 refused: ") + r.why + "; it starts afresh"))
        << r.name;
  }
  // Actions queued for another rule, another fingerprint, an action the list lacks or names otherwise.
  const std::string fp = record.substr(2, 16);
  const struct {
    const char* text;
    const char* why;
  } dropped[] = {
      {"1 7 ", "its rule is not loaded"},
      {"1 1 0000000000000000 1 0 0 1 0 rack cut", "its rule has changed"},
      {"1 1 FP 2 0 0 1 0 rack cut", "its rule has changed"},  // no reference 2
      {"1 1 FP 1 0 5 1 0 rack cut", "its rule has no such action"},
      {"1 1 FP 1 0 0 1 0 rack other", "its rule has no such action"},
      {"1 1 FP 1 1 0 1 0 rack cut", "its rule has no such action"},  // the resolve list is empty
  };
  uint64_t order = 1;
  for (const auto& a : dropped) {
    std::string text = a.text;
    if (text == "1 7 ") text += fp + " 1 0 0 1 0 gone cut";
    if (text.find("FP") != std::string::npos) text.replace(text.find("FP"), 2, fp);
    d->records.write(queue_record_name(order++), text);
  }
  start();
  for (const auto& a : dropped) {
    EXPECT_TRUE(d->logged(std::string(" - ") + a.why)) << a.text;
  }
  EXPECT_EQ(Strings{}, g_runs);
  for (const auto& [name, text] : d->records.read_all()) EXPECT_EQ(std::string::npos, name.find("action.")) << name;
}

// What fell due inside a silence while the daemon was down is held as the silence holds it, and settled when the
// silence ends, at start or later: a reference still Triggered runs it once; a resolve held back across the restart
// runs once the silence ends, with the value it fell due for.
TEST_F(Restart, ASilenceHoldsAcrossARestartAndSettlesOnce) {
  add_script(c, 1, "trigger_actions", 1, "cut", "/bin/cut", "$AR_VAL", 30);
  add_script(c, 1, "resolve_actions", 1, "restore", "/bin/restore", "$AR_VAL");
  start();
  at(0, "31");
  EXPECT_EQ(0, d->deliver("config.autoresponse.command", kRack + ",admin,silence,60,0,fans"));
  d->clock.advance(100);  // down from 0 s to 100 s: "cut" fell due at 30 s, the silence ended at 60 s
  start();
  EXPECT_EQ(Strings{"/bin/cut 31"}, g_runs);
  EXPECT_TRUE(d->logged("Silenced action cut for AR rack"));
  EXPECT_TRUE(d->logged("Silence of every reference of AR " + kRack + " ended: its time came"));
  d->child_exits(d->spawner.starts.back().pid, 0);

  EXPECT_EQ(0, d->deliver("config.autoresponse.command", kRack + ",admin,silence,600,0,fans"));
  at(10, "25");  // the restore is held back
  start();
  at(100, nullptr);
  start();
  EXPECT_EQ(Strings{"/bin/cut 31"}, g_runs);
  at(500, nullptr);
  EXPECT_EQ((Strings{"/bin/cut 31", "/bin/restore 25"}), g_runs);
  at(10, nullptr);
  start();
  EXPECT_EQ(2u, g_runs.size());
}

// Due times survive a step of the wall clock in the same boot; after a reboot they are carried over by it.
TEST_F(Restart, DueTimesFollowTheMonotonicClockInOneBootAndTheWallClockAcrossBoots) {
  add_script(c, 1, "trigger_actions", 1, "cut", "/bin/cut", "", 120);
  start();
  at(0, "31");
  at(7, nullptr);
  start(-3600);  // the wall clock stepped back an hour
  at(112, nullptr);
  EXPECT_EQ(Strings{}, g_runs);
  at(1, nullptr);
  EXPECT_EQ(Strings{"/bin/cut "}, g_runs);

  at(0, "20");
  at(0, "31");
  at(60, nullptr);
  d->clock.monotonic += 5000;  // another boot's monotonic clock, 60 s of wall time after the trigger
  start(0, "b008");
  at(59, nullptr);
  EXPECT_EQ(1u, g_runs.size());
  at(1, nullptr);
  EXPECT_EQ((Strings{"/bin/cut ", "/bin/cut "}), g_runs);
}

// A rule taken out while the daemon was down leaves no record: put back later, it starts afresh.
TEST_F(Restart, ARuleTakenOutLeavesNoRecordThatComesBack) {
  add_enviro_rule(c.set("config.autoresponse.total", 2), 2);
  add_script(c, 2, "trigger_actions", 1, "cut", "/bin/cut", "", 600);
  start();
  EXPECT_EQ(0, d->deliver(enviro_key(2), "31"));
  ConfigBuilder full = c;
  c = ConfigBuilder();
  add_enviro_rule(c.set("config.autoresponse.total", 1), 1, "rack");
  start();
  EXPECT_EQ(0u, d->records.read_all().count("rule.2"));
  c = full;
  start();
  EXPECT_STREQ("Normal", reference_state_name(d->check(1).state));
  d->clock.advance(700);
  d->tick();
  EXPECT_EQ(Strings{}, g_runs);
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

}  // namespace
