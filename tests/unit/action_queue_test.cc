// The action queue: order, the concurrency limit, the size limit, reaping
// real and fake children, and actions that outlive a reload.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "actions/queue.h"
#include "config/autoresponse.h"
#include "support/rules.h"
#include "support/test_daemon.h"

namespace {

const std::string kLog = "config.autoresponse.log";

class ActionQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigBuilder c;
    c.set("config.autoresponse.total", 1);
    add_enviro_rule(c, 1, "pdu");
    c.set(rule_path(1) + ".trigger_actions.total", 1);
    add_action(c, 1, "trigger_actions", 1, "cut power", "custom");
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    d.take_sent();
  }
  int queue(const std::string& program, std::vector<std::string> argv = {}) {
    if (argv.empty()) argv = {program};
    return queue_action(&d.check(0), &d.check(0).trigger_actions[0], program, argv, {}, 0);
  }
  TestDaemon d;
};

TEST_F(ActionQueue, StartsInOrderUnderTheConcurrencyLimit) {
  EXPECT_EQ(0, queue("/bin/a"));
  EXPECT_EQ(0, queue("/bin/b"));
  EXPECT_EQ(0, queue("/bin/c"));
  ASSERT_EQ(2u, d.spawner.starts.size());
  EXPECT_EQ("/bin/a", d.spawner.starts[0].path);
  EXPECT_EQ("/bin/b", d.spawner.starts[1].path);
  EXPECT_EQ(3, d.ctx.queued_actions);
  EXPECT_EQ(2, d.ctx.running_actions);

  d.child_exits(d.spawner.starts[1].pid, 3);
  ASSERT_EQ(3u, d.spawner.starts.size());
  EXPECT_EQ("/bin/c", d.spawner.starts[2].path);
  EXPECT_TRUE(d.logged("Reaped 1001 - status 3 - action config.autoresponse.autoresponse1.trigger_actions.action1"
                       " - 2 queued actions remaining"));
  EXPECT_EQ(std::vector<std::string>{"Finished action: cut power with status 3 for AR: pdu - 2 queued actions remaining"},
            TestDaemon::values_of(d.take_sent(), kLog));

  d.child_exits(d.spawner.starts[0].pid, 0);
  d.child_exits(d.spawner.starts[2].pid, 0);
  EXPECT_EQ(0, d.ctx.queued_actions);
  EXPECT_EQ(0, d.ctx.running_actions);
  EXPECT_EQ("Finished action: cut power with status 0 for AR: pdu - 0 queued actions remaining",
            TestDaemon::values_of(d.take_sent(), kLog).back());
}

TEST_F(ActionQueue, HoldsAtMostOneHundredAndOne) {
  d.ctx.concurrent_actions = 2;
  for (int i = 0; i < 101; ++i) ASSERT_EQ(0, queue("/bin/x")) << i;
  EXPECT_EQ(1, queue("/bin/x"));
  EXPECT_TRUE(d.logged("Too many queued actions 101"));
  EXPECT_EQ(101, d.ctx.queued_actions);
  // Running actions count too: a slot comes free only when a child ends.
  d.child_exits(d.spawner.starts[0].pid, 0);
  EXPECT_EQ(0, queue("/bin/x"));
}

TEST_F(ActionQueue, ExitStatusOfKilledChildrenIsNotSuccess) {
  EXPECT_EQ(3, action_exit_status(W_EXITCODE(3, 0)));
  EXPECT_EQ(128 + SIGKILL, action_exit_status(SIGKILL));
  EXPECT_EQ(128 + SIGTERM, action_exit_status(SIGTERM));
}

TEST_F(ActionQueue, AChildThatCannotStartFreesItsSlotAtOnce) {
  d.spawner.fail = true;
  EXPECT_EQ(0, queue("/bin/a"));
  EXPECT_EQ(0, d.ctx.queued_actions);
  EXPECT_EQ(0, d.ctx.running_actions);
  EXPECT_TRUE(d.logged("Could not start action config.autoresponse.autoresponse1.trigger_actions.action1"));
  EXPECT_EQ(std::vector<std::string>{"Could not start action: cut power for AR: pdu"},
            TestDaemon::values_of(d.take_sent(), kLog));
  d.spawner.fail = false;
  EXPECT_EQ(0, queue("/bin/b"));
  EXPECT_EQ(1, d.ctx.running_actions);
}

TEST_F(ActionQueue, UnknownChildrenAreForgottenAndWaitingOnesStart) {
  d.ctx.concurrent_actions = 1;
  queue("/bin/a");
  queue("/bin/b");
  d.ctx.concurrent_actions = 2;
  d.child_exits(4242, 0);
  EXPECT_EQ(2u, d.spawner.starts.size());
  EXPECT_TRUE(d.take_sent().empty());
  EXPECT_FALSE(d.logged("Reaped 4242"));
}

TEST_F(ActionQueue, EmptyVectorsStartWithoutArrays) {
  queue_action(&d.check(0), &d.check(0).trigger_actions[0], "/bin/a", {}, {}, 0);
  queue_action(&d.check(0), &d.check(0).trigger_actions[0], "/bin/b", {"b", ""}, {"X=1"}, 2);
  ASSERT_EQ(2u, d.spawner.starts.size());
  EXPECT_FALSE(d.spawner.starts[0].has_argv);
  EXPECT_FALSE(d.spawner.starts[0].has_envp);
  EXPECT_EQ((std::vector<std::string>{"b", ""}), d.spawner.starts[1].argv);
  EXPECT_EQ(std::vector<std::string>{"X=1"}, d.spawner.starts[1].envp);
  EXPECT_EQ(2, d.ctx.action_queue.back().tag);
}

TEST_F(ActionQueue, ActionsOutliveAReloadWithTheirOwnTexts) {
  d.ctx.concurrent_actions = 1;
  queue("/bin/a");
  queue("/bin/b");
  unload_config(&d.ctx);  // the rule, its ArChecks and its Actions are gone
  d.child_exits(d.spawner.starts[0].pid, 0);
  ASSERT_EQ(2u, d.spawner.starts.size());
  d.child_exits(d.spawner.starts[1].pid, 1);
  const auto lines = TestDaemon::values_of(d.take_sent(), kLog);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("Finished action: cut power with status 1 for AR: pdu - 0 queued actions remaining", lines[1]);
}

TEST_F(ActionQueue, ReapsEveryRealChildWithoutBlocking) {
  PlatformSpawner real;
  d.ctx.spawner = &real;
  d.ctx.concurrent_actions = 3;
  queue("/bin/sh", {"sh", "-c", "exit 3"});
  queue("/bin/sh", {"sh", "-c", "kill -9 $$"});
  queue("/nonexistent/program");
  queue("/bin/sh", {"sh", "-c", "exit 0"});
  // The loop would call reap_action on SIGCHLD; here it runs until the
  // queue is empty, each call collecting whatever has ended.
  for (int i = 0; i < 500 && d.ctx.queued_actions > 0; ++i) {
    reap_action(SIGCHLD, 0, &d.ctx);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(0, d.ctx.queued_actions);
  EXPECT_EQ(0, d.ctx.running_actions);
  const auto lines = TestDaemon::values_of(d.take_sent(), kLog);
  ASSERT_EQ(4u, lines.size());
  int seen3 = 0, seen137 = 0, seen127 = 0, seen0 = 0;
  for (const auto& l : lines) {
    seen3 += l.find("with status 3 ") != std::string::npos;
    seen137 += l.find("with status 137 ") != std::string::npos;
    seen127 += l.find("with status 127 ") != std::string::npos;
    seen0 += l.find("with status 0 ") != std::string::npos;
  }
  EXPECT_EQ(1, seen3);
  EXPECT_EQ(1, seen137);
  EXPECT_EQ(1, seen127);
  EXPECT_EQ(1, seen0);
}

}  // namespace
