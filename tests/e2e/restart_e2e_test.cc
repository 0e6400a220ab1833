// What a restart keeps: the real daemon killed and started again against the same infod.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "arctl/simulate.h"
#include "support/e2e.h"
#include "support/zone_guard.h"

namespace {

using namespace e2e;

// States pushed ("N STATE" of rule N's first reference) and the argument of each run, in order.
struct Seen {
  Strings states, runs;
};

// A triggered rule with one slot: "hold" runs until released, "next" waits behind it, "later" is delayed 8 s. A
// reload keeps the rule (and adds another). Killed and started again, the daemon publishes Triggered, not Normal;
// what ran does not run again, what waited is queued again, the delayed action runs once at its time (or at start,
// had it fallen due meanwhile), and the rule still resolves. arctl test's simulation of the same steps agrees on
// the states and the runs.
TEST(RestartE2e, ATriggeredRuleResumesAndWhatRanDoesNotRunAgainAsArctlTestSimulates) {
  Sandbox box;
  const std::string runs = box.path("/runs"), release = box.path("/release");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + runs + "'\n", 0755);
  write_file(box.path("/bin/hold"),
             "#!/bin/sh\necho hold >> '" + runs + "'\nwhile [ ! -e '" + release + "' ]; do sleep 0.05; done\n", 0755);
  ConfigBuilder c = enviro_rules(1).set("config.autoresponse.concurrent_actions", 1);
  add_script(c, 1, "trigger_actions", 1, "hold", box.path("/bin/hold"), "hold");
  add_script(c, 1, "trigger_actions", 2, "next", box.path("/bin/act"), "next");
  add_script(c, 1, "trigger_actions", 3, "later", box.path("/bin/act"), "later", 8);
  add_script(c, 1, "resolve_actions", 1, "back", box.path("/bin/act"), "back");
  ConfigBuilder grown = c;
  add_enviro_rule(grown.set("config.autoresponse.total", 2), 2);

  Seen real;
  ASSERT_TRUE(box.start(c, state_line(1, "Normal")));
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.infod.logged(log_line("Queuing triggered action: next for AR: rule1")));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "hold\n"; }));
  box.write_config(grown);
  kill(box.daemon_pid(), SIGHUP);
  ASSERT_TRUE(box.infod.logged("<- push config.autoresponse.daemon.reload.changes 0 1 rule unchanged; 1 added: rule2"));
  kill(box.daemon_pid(), SIGKILL);
  EXPECT_EQ(128 + SIGKILL, box.daemon_exit());
  write_file(release, "");

  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.infod.logged(log_line("Action hold for AR rule1 was running when the daemon stopped: not run again")));
  EXPECT_TRUE(box.infod.logged(log_line("Requeued action: next for AR: rule1")));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "hold\nnext\nlater\n"; })) << read_file(runs);
  EXPECT_EQ(2, count(read_file(box.infod.log), state_line(1, "Triggered") + "\n"));
  EXPECT_EQ(1, count(read_file(box.infod.log), state_line(1, "Normal") + "\n"));  // only the first start's
  ASSERT_TRUE(box.push(enviro_key(1), "20"));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "hold\nnext\nlater\nback\n"; })) << read_file(runs);
  ASSERT_TRUE(eventually([&] { return count(read_file(box.infod.log), state_line(1, "Normal") + "\n") == 2; }));
  std::istringstream log(read_file(box.infod.log));
  const std::string head = "<- push config.autoresponse.autoresponse", tail = ".refs.ref1.status 2 ";
  for (std::string line; std::getline(log, line);) {
    const size_t at = line.find(tail);
    if (line.rfind(head, 0) == 0 && at != std::string::npos) {
      real.states.push_back(line.substr(head.size(), at - head.size()) + " " + line.substr(at + tail.size()));
    }
  }
  std::istringstream ran(read_file(runs));
  for (std::string line; std::getline(ran, line);) real.runs.push_back(line);

  Seen sim;
  {
    const ZoneGuard zone("UTC0");  // the simulation sets the test's zone
    TempDir dir;
    write_file(dir.path() + "/v1.xml", c.xml());
    write_file(dir.path() + "/v2.xml", grown.xml());
    const std::string key = enviro_key(1);
    TestFile test;
    std::string fault;
    ASSERT_TRUE(parse_test_file(dir.path() + "/t.test",
                                "config v1.xml\nprogram " + box.path("/bin/hold") + " exits 0 after 1h\n"
                                "at 1 reply config.ports.port1.enviro.count.temp 0\nat 1 push " + key +
                                    " 35\nat 2 config v2.xml\nat 2 hup\nat 3 restart\nat 30 push " + key + " 20\n",
                                &test, &fault))
        << fault;
    std::vector<Record> records;
    ASSERT_TRUE(simulate(test, &records, &fault)) << fault;
    for (const Record& r : records) {
      if (r.kind == RecordKind::kState && r.ref == 1) sim.states.push_back(std::to_string(r.rule) + " " + r.text);
      if (r.kind == RecordKind::kRun) sim.runs.push_back(r.args.empty() ? "" : r.args[0]);
    }
  }
  EXPECT_EQ(real.states, sim.states);
  EXPECT_EQ(real.runs, sim.runs);
  expect_clean_end(box);
}

}  // namespace
