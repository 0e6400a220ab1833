// The action queue: order, the limits, reaping real and fake children, and actions that outlive a reload.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "actions/queue.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "model/autoresponse.h"
#include "support/rules.h"

namespace {

const std::string kFinished = "Finished action: cut power with status ";

class ActionQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    c = enviro_rules(3);
    for (int n = 1; n <= 3; ++n) {
      c.set(rule_path(n) + ".name", n == 1 ? "pdu" : "rule" + std::to_string(n));
      add_action(c.set(rule_path(n) + ".trigger_actions.total", 1), n, "trigger_actions", 1, "cut power", "custom");
    }
    ASSERT_EQ(0, d.load(c));
  }
  int queue(const std::string& program, const Strings& argv = {}, size_t n = 1) {
    ArCheck& check = d.check(n - 1);
    return d.ctx.queue.enqueue(&check, check.conf.ar->trigger_actions[0], check.trigger_status(), program, argv, {}, 0);
  }
  Strings lines() { return TestDaemon::values_of(d.take_sent(), "config.autoresponse.log"); }
  pid_t pid(size_t n) { return d.spawner.starts.at(n).pid; }
  // How many actions each rule holds, and how many of one program.
  std::string shares() const {
    std::string counts;
    for (const char* rule : {"pdu", "rule2", "rule3"}) {
      counts += std::to_string(std::count_if(d.ctx.queue.entries().begin(), d.ctx.queue.entries().end(),
                                             [&](const QueuedAction& q) { return q.ar_name == rule; })) + " ";
    }
    return counts;
  }
  std::ptrdiff_t held_program(const std::string& path) const {
    return std::count_if(d.ctx.queue.entries().begin(), d.ctx.queue.entries().end(),
                         [&](const QueuedAction& q) { return q.path == path; });
  }
  ConfigBuilder c;
  TestDaemon d;
};

TEST_F(ActionQueue, StartsInOrderUnderTheConcurrencyLimitAndReportsEachEnd) {
  for (const char* program : {"/bin/a", "/bin/b", "/bin/c"}) EXPECT_EQ(0, queue(program));
  ASSERT_EQ(2u, d.spawner.starts.size());
  d.child_exits(pid(1), 3);
  ASSERT_EQ(3u, d.spawner.starts.size());
  EXPECT_EQ("/bin/c", d.spawner.starts[2].path);
  EXPECT_TRUE(d.logged("Reaped 1001 - status 3 - action config.autoresponse.autoresponse1.trigger_actions.action1"
                       " - 2 queued actions remaining"));
  EXPECT_EQ(Strings{kFinished + "3 for AR: pdu - 2 queued actions remaining"}, lines());
  for (size_t n : {0, 2}) d.child_exits(pid(n), 0);
  EXPECT_EQ(0, d.ctx.queue.queued());
  EXPECT_EQ(0, d.ctx.queue.running());
  EXPECT_EQ(kFinished + "0 for AR: pdu - 0 queued actions remaining", lines().back());
}

TEST_F(ActionQueue, HoldsAtMostOneHundredAndOneCountingTheRunningOnes) {
  for (int i = 0; i < 101; ++i) ASSERT_EQ(0, queue("/bin/x")) << i;
  EXPECT_EQ(1, queue("/bin/x"));
  EXPECT_TRUE(d.logged("Too many queued actions 101"));
  d.child_exits(pid(0), 0);
  EXPECT_EQ(0, queue("/bin/x"));
}

// Rules take turns; in a full queue the rule holding the most gives its newest waiting action way to one
// holding less than half.
TEST_F(ActionQueue, RulesTakeTurnsAndInAFullQueueTheNoisiestGivesWay) {
  for (int i = 0; i < 101; ++i) ASSERT_EQ(0, queue("/bin/p" + std::to_string(i))) << i;
  const std::string dropped = "Dropped action: cut power for AR: pdu - queue full";
  EXPECT_EQ(0, queue("/bin/x1", {}, 2));
  EXPECT_EQ(0, queue("/bin/y1", {}, 3));
  EXPECT_EQ(0, queue("/bin/x2", {}, 2));
  EXPECT_EQ((Strings{dropped, dropped, dropped}), lines());
  EXPECT_EQ(kActionDropped, d.check(0).trigger_status()[0]);
  EXPECT_TRUE(d.logged(dropped));
  for (int i = 0; i < 5; ++i) d.child_exits(pid(size_t(i)), 0);
  Strings started;
  for (const auto& s : d.spawner.starts) started.push_back(s.path.substr(5));
  EXPECT_EQ((Strings{"p0", "p1", "x1", "y1", "p2", "x2", "p3"}), started);
  // Rule 2 takes pdu's place until it holds half the queue, and is then refused as before; rule 3 still gets in.
  while (queue("/bin/x", {}, 2) == 0) {}
  EXPECT_TRUE(d.logged("Too many queued actions 101"));
  EXPECT_EQ("50 51 0 ", shares());
  EXPECT_EQ(0, queue("/bin/y", {}, 3));
  EXPECT_EQ("50 50 1 ", shares());
}

// Three rules of about a third each: a rule under half that ties for the largest share takes the place of the
// newest waiting action of another rule holding as much, of the one that queued last on a tie, never its own.
TEST_F(ActionQueue, InAFullQueueARuleHoldingAsMuchGivesWayTooTheOneThatQueuedLastOnATie) {
  const auto dropped = [](const std::string& rule) {
    return "Dropped action: cut power for AR: " + rule + " - queue full";
  };
  for (int i = 0; i < 34; ++i) ASSERT_EQ(0, queue("/bin/p", {}, 1));
  for (int i = 0; i < 34; ++i) ASSERT_EQ(0, queue("/bin/r2", {}, 2));
  for (int i = 0; i < 33; ++i) ASSERT_EQ(0, queue("/bin/r3", {}, 3));
  lines();
  // pdu (34, two of them running) and rule 2 (34) tie for rule 2's share; rule 2 queued last but is the one asking.
  EXPECT_EQ(0, queue("/bin/r2-new", {}, 2));
  EXPECT_EQ("33 35 33 ", shares());
  EXPECT_EQ(Strings{dropped("pdu")}, lines());
  // Rule 3 (33) against pdu (33) and rule 2 (35): the most gives way.
  EXPECT_EQ(0, queue("/bin/r3-new", {}, 3));
  EXPECT_EQ("33 34 34 ", shares());
  EXPECT_EQ(Strings{dropped("rule2")}, lines());
  // pdu (33) against rule 2 and rule 3 (34 each): rule 3 queued its newest action last.
  EXPECT_EQ(0, queue("/bin/p-new", {}, 1));
  EXPECT_EQ("34 34 33 ", shares());
  EXPECT_EQ(Strings{dropped("rule3")}, lines());
  // Each time the newest waiting action went, a rule's new one too.
  EXPECT_EQ(0, held_program("/bin/r2-new"));
  EXPECT_EQ(0, held_program("/bin/r3-new"));
  EXPECT_EQ(1, held_program("/bin/p-new"));
  // Rule 3 (33) against pdu and rule 2 (34 each): pdu's newest action is the later one now.
  EXPECT_EQ(0, queue("/bin/r3-again", {}, 3));
  EXPECT_EQ("33 34 34 ", shares());
  EXPECT_EQ(Strings{dropped("pdu")}, lines());
  EXPECT_EQ(0, held_program("/bin/p-new"));
  EXPECT_FALSE(d.logged("Too many queued actions"));
}

TEST_F(ActionQueue, AFailedStartFreesItsSlotAndTheNextStartsAndActionsOutliveAReload) {
  d.ctx.queue.concurrent_actions = 1;
  for (const char* program : {"/bin/a", "/bin/b", "/bin/c"}) queue(program);
  d.spawner.fail = 1;
  d.child_exits(pid(0), 0);
  EXPECT_TRUE(d.logged("Could not start action config.autoresponse.autoresponse1.trigger_actions.action1"));
  EXPECT_EQ((Strings{kFinished + "0 for AR: pdu - 2 queued actions remaining",
                     "Could not start action: cut power for AR: pdu"}),
            lines());
  ASSERT_EQ(2u, d.spawner.starts.size());
  EXPECT_EQ("/bin/c", d.spawner.starts[1].path);
  EXPECT_EQ(1, d.ctx.queue.queued());
  EXPECT_EQ(1, d.ctx.queue.running());
  queue("/bin/d");
  unload_config(&d.ctx);  // the rule, its ArChecks and its Actions are gone
  d.child_exits(pid(1), 0);
  d.child_exits(pid(2), 1);
  EXPECT_EQ(kFinished + "1 for AR: pdu - 0 queued actions remaining", lines().back());
}

TEST_F(ActionQueue, AReloadThatRaisesTheLimitStartsWhatWaits) {
  d.ctx.queue.concurrent_actions = 1;
  for (const char* program : {"/bin/a", "/bin/b", "/bin/c", "/bin/d"}) queue(program);
  ASSERT_EQ(1u, d.spawner.starts.size());
  ASSERT_EQ(0, d.load(c.set("config.autoresponse.concurrent_actions", 3)));
  EXPECT_EQ(3u, d.spawner.starts.size());
  EXPECT_EQ(3, d.ctx.queue.running());
}

// An eviction marks only the cycle its action was queued in. pdu fills the queue with one slot, each action's
// cycle ended since (by a resolve, or by a repeat whose delayed action is still due); rule2 evicts pdu's
// newest; pdu's next action is queued all the same.
struct Rearming { const char* name; bool repeat; };
void PrintTo(const Rearming& r, std::ostream* out) { *out << r.name; }
class Evicted : public ActionQueue, public ::testing::WithParamInterface<Rearming> {};
INSTANTIATE_TEST_SUITE_P(AfterItsCycle, Evicted, ::testing::Values(Rearming{"EndedByAResolve", false},
                                                                     Rearming{"EndedByARepeat", true}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_P(Evicted, LosesNoLaterActionOfItsReference) {
  const bool repeat = GetParam().repeat;
  if (repeat) {
    add_action(c.set(rule_path(1) + ".repeat_trigger", "on").set(rule_path(1) + ".repeat_timeout", 10), 1,
               "trigger_actions", 1, "cut power", "custom", 5);
    ASSERT_EQ(0, d.load(c));
    ASSERT_EQ(0, d.deliver(enviro_key(1), "31"));
  }
  d.ctx.queue.concurrent_actions = 1;
  // Each step queues pdu's action, then re-arms its reference.
  const auto step = [&] {
    for (const char* reading : {"31", "29"}) {
      if (repeat) d.clock.advance(5), d.tick(); else ASSERT_EQ(0, d.deliver(enviro_key(1), reading));
    }
  };
  for (int i = 0; i < 101; ++i) step();
  ASSERT_EQ(101, d.ctx.queue.queued());
  ASSERT_EQ(0, d.deliver(enviro_key(2), "31"));
  EXPECT_TRUE(d.logged("Dropped action: cut power for AR: pdu - queue full"));
  for (size_t n = 0; n < 5; ++n) d.child_exits(pid(n), 0);
  ASSERT_EQ(96, d.ctx.queue.queued());
  lines();
  if (repeat) d.clock.advance(5), d.tick(); else ASSERT_EQ(0, d.deliver(enviro_key(1), "31"));
  const Strings pushed = lines();
  EXPECT_EQ(1, std::count(pushed.begin(), pushed.end(),
                          "Queuing triggered action: cut power for AR: pdu - 96 actions in the queue"));
  EXPECT_EQ(97, d.ctx.queue.queued());
}

TEST_F(ActionQueue, OneSignalReapsEveryEndedRealChild) {
  PlatformSpawner real;
  d.spawner.real = &real;
  d.ctx.queue.concurrent_actions = 3;
  for (const char* script : {"exit 3", "kill -9 $$", "", "exit 0"})
    queue(*script ? "/bin/sh" : "/nonexistent/program", *script ? Strings{"sh", "-c", script} : Strings{});
  // Waits, without collecting them, until the running children have ended.
  auto all_ended = [&] {
    for (const QueuedAction& qa : d.ctx.queue.entries()) {
      siginfo_t info;
      EXPECT_TRUE(qa.state != kQueuedRunning || waitid(P_PID, id_t(qa.pid), &info, WEXITED | WNOWAIT) == 0);
    }
  };
  all_ended();
  daemon_reap(SIGCHLD, 0, &d.ctx);
  EXPECT_LE(d.ctx.queue.queued(), 1);  // the fourth started only when one had ended
  all_ended();
  daemon_reap(SIGCHLD, 0, &d.ctx);
  EXPECT_EQ(0, d.ctx.queue.queued());
  EXPECT_EQ(0, d.ctx.queue.running());
  Strings statuses;
  for (const std::string& l : lines()) statuses.push_back(l.substr(0, l.find(" for AR")).substr(kFinished.size()));
  std::sort(statuses.begin(), statuses.end());
  EXPECT_EQ((Strings{"0", "127", "137", "3"}), statuses);  // a killed child is 128 + signal
}

// Even when a reload has taken the time-out away after the SIGTERM, SIGKILL follows 5 s later.
class TimedOut : public ActionQueue, public ::testing::WithParamInterface<int32_t> {};
INSTANTIATE_TEST_SUITE_P(TimeOutAfterTheTerm, TimedOut, ::testing::Values(10, 0));

TEST_P(TimedOut, IsTerminatedThenKilledAndHoldsItsSlotUntilReaped) {
  PlatformSpawner real;
  d.spawner.real = &real;
  d.ctx.queue.concurrent_actions = 1;
  d.ctx.queue.action_timeout = 10;
  const std::string ready = d.dir() + "/ready";
  queue("/bin/sh", {"sh", "-c", "trap '' TERM; touch " + ready + "; exec sleep 60"});
  queue("/bin/true", {"true"});
  const pid_t child = d.ctx.queue.entries().front().pid;
  while (access(ready.c_str(), F_OK) != 0) usleep(1000);  // it ignores SIGTERM from here on
  const auto ended = [child] {
    siginfo_t info{};
    return waitid(P_PID, id_t(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == child;
  };
  const std::string timed_out = "Action timed out: cut power for AR: pdu";
  for (int64_t step : {9, 1, 4}) {
    d.clock.advance(step);
    d.tick();
    if (step == 1) d.ctx.queue.action_timeout = GetParam();  // the SIGTERM is out
  }
  EXPECT_EQ(Strings{timed_out}, lines());
  EXPECT_EQ(1, d.logged_at(300, timed_out));
  usleep(100 * 1000);
  EXPECT_FALSE(ended());
  d.clock.advance(1);
  d.tick();
  siginfo_t info{};
  ASSERT_EQ(0, waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT));
  EXPECT_EQ(kQueuedWaiting, d.ctx.queue.entries().back().state);  // ended, but not reaped yet
  daemon_reap(SIGCHLD, 0, &d.ctx);
  // The next one started only then (and may have ended in the same reap).
  EXPECT_EQ(kFinished + "137 for AR: pdu - 1 queued actions remaining", lines().front());
}

}  // namespace
