// What a restart keeps: the real daemon killed and started again against the same infod.
#include <gtest/gtest.h>
#include <signal.h>

#include "support/e2e.h"

namespace {

using namespace e2e;

// A triggered rule with one slot: "hold" runs until released, "next" waits behind it, "later" is delayed 8 s.
// Killed and started again, the daemon publishes Triggered, not Normal; what ran does not run again, what waited
// is queued again, the delayed action runs once at its time (or at start, had it fallen due meanwhile), and the
// rule still resolves.
TEST(RestartE2e, ATriggeredRuleResumesAndWhatRanDoesNotRunAgain) {
  Sandbox box;
  const std::string runs = box.path("/runs"), release = box.path("/release");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + runs + "'\n", 0755);
  write_file(box.path("/bin/hold"),
             "#!/bin/sh\necho hold >> '" + runs + "'\nwhile [ ! -e '" + release + "' ]; do sleep 0.05; done\n", 0755);
  ConfigBuilder c = enviro_rules(1).set("config.autoresponse.concurrent_actions", 1);
  const struct { const char *list, *name; int delay; } actions[] = {
      {"trigger_actions", "hold", 0}, {"trigger_actions", "next", 0}, {"trigger_actions", "later", 8},
      {"resolve_actions", "back", 0}};
  int k = 0;
  for (const auto& a : actions) {
    k = a.list[0] == 'r' ? 1 : k + 1;
    c.set(rule_path(1) + "." + a.list + ".total", k);
    add_action(c, 1, a.list, k, a.name, "custom", a.delay);
    set_all(c, rule_path(1) + "." + a.list + ".action" + std::to_string(k) + ".custom.",
            "script=" + box.path(a.name == std::string("hold") ? "/bin/hold" : "/bin/act") + ";args.total=1;args.arg1=" +
                a.name);
  }
  ASSERT_TRUE(box.start(c, state_line(1, "Normal")));
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.infod.logged(log_line("Queuing triggered action: next for AR: rule1")));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "hold\n"; }));
  kill(box.daemon_pid(), SIGKILL);
  EXPECT_EQ(128 + SIGKILL, box.daemon_exit());
  write_file(release, "");

  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.infod.logged(log_line("Action hold for AR rule1 was running when the daemon stopped: not run again")));
  EXPECT_TRUE(box.infod.logged(log_line("Requeued action: next for AR: rule1")));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "hold\nnext\nlater\n"; })) << read_file(runs);
  const std::string log = read_file(box.infod.log);
  EXPECT_EQ(2, count(log, state_line(1, "Triggered") + "\n"));
  EXPECT_EQ(1, count(log, state_line(1, "Normal") + "\n"));  // only the first start's
  ASSERT_TRUE(box.push(enviro_key(1), "20"));
  EXPECT_TRUE(eventually([&] { return read_file(runs) == "hold\nnext\nlater\nback\n"; })) << read_file(runs);
  expect_clean_end(box);
}

}  // namespace
