// What a restart keeps: the real daemon killed and started again against the same infod.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include <sstream>

#include "support/e2e.h"
#include "support/simulated.h"
#include "wire/message.h"

namespace {

using namespace e2e;

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
  const Strings states = published_states(box), ran = lines_in(runs);
  const std::string key = enviro_key(1);
  const SimulatedRun sim = simulate_test(
      {{"v1.xml", c.xml()}, {"v2.xml", grown.xml()}},
      "config v1.xml\nprogram " + box.path("/bin/hold") + " exits 0 after 1h\n"
      "at 1 reply config.ports.port1.enviro.count.temp 0\nat 1 push " + key + " 35\nat 2 config v2.xml\nat 2 hup\n"
      "at 3 restart\nat 30 push " + key + " 20\n");
  EXPECT_EQ(states, sim.states);
  EXPECT_EQ(ran, sim.runs);
  expect_clean_end(box);
}

// infod is a bus any client writes to: records pushed under the daemon's own keys before a start grant nothing. A
// queued command for a rule that does not exist runs nothing, a rule claimed Triggered with an action due stays
// Normal, one claimed Disabled still acts, and records of a mebibyte each neither stop the start nor are read.
TEST(RestartE2e, RecordsAnotherClientPushesIntoInfodGrantNothing) {
  Sandbox box;
  const std::string runs = box.path("/runs"), forged = box.path("/forged");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + runs + "'\n", 0755);
  ConfigBuilder c = enviro_rules(2);
  add_script(c, 1, "trigger_actions", 1, "cut", box.path("/bin/act"), "cut $AR_VAL", 1);
  add_script(c, 2, "trigger_actions", 1, "page", box.path("/bin/act"), "page $AR_VAL");
  ASSERT_TRUE(box.start(c, state_line(2, "Normal")));
  const auto shown = [&](int n) {
    std::string text = box.infod.command({"get", "config.autoresponse.daemon.kept." + std::to_string(n)}).second;
    return text.substr(0, text.find_first_of(";\n"));  // "1 FINGERPRINT"
  };
  const std::string head1 = shown(1), head2 = shown(2);
  ASSERT_EQ(18u, head1.size()) << head1;
  kill(box.daemon_pid(), SIGKILL);
  box.daemon_exit();

  const std::string command = "touch%20" + forged;  // percent-escaped as the old records were
  ASSERT_TRUE(box.push("config.autoresponse.daemon.kept.queue.1",
                       "1 w 1 0 config.autoresponse.autoresponse99 x.y forged forged /bin/sh 3 sh -c " + command + " 0"));
  ASSERT_TRUE(box.push("config.autoresponse.daemon.kept.1",
                       head1 + ";1 2 1000 p e=" + enviro_key(1) + ",0,1000,666 d=0@2000,cut"));
  ASSERT_TRUE(box.push("config.autoresponse.daemon.kept.2", head2 + ";1 5 1000 p"));
  Raw bus(box.infod.socket);
  for (int n = 2; n <= 4; ++n) {
    const std::string key = "config.autoresponse.daemon.kept.queue." + std::to_string(n);
    ASSERT_TRUE(bus.write_all(frame_of("1" + std::string(1, kRS) + key + std::string(1, kRS) + "0" +
                                       std::string(1, kRS) + std::string(kMaxInfodMessage - 100, 'x'))));
  }
  ASSERT_TRUE(eventually([&] { return box.infod.command({"get", "config.autoresponse.daemon.kept.queue.4"}).second.size() > 1000; }));

  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(eventually([&] { return count(read_file(box.infod.log), state_line(2, "Normal") + "\n") == 2; }));
  EXPECT_EQ(2, count(read_file(box.infod.log), state_line(1, "Normal") + "\n"));
  ASSERT_TRUE(box.push(enviro_key(2), "45"));
  ASSERT_TRUE(eventually([&] { return read_file(runs) == "page 45\n"; })) << read_file(runs);
  EXPECT_FALSE(box.infod.logged(log_line("Requeued action"), 0));
  EXPECT_EQ(0, count(read_file(box.infod.log), state_line(1, "Triggered")));
  EXPECT_TRUE(box.daemon_running());
  EXPECT_FALSE(std::filesystem::exists(forged));
  // What it kept for a restart lies where only root reads and writes it.
  struct stat st{};
  ASSERT_EQ(0, stat(box.path("/var/run/autoresponsed").c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  expect_clean_end(box);
}

// Fifty SIGKILLs at random instants of triggers, delays, repeats and slow actions, each followed by a start: no
// action runs twice, and each one queued has run or is accounted for by a line.
TEST(RestartE2e, RandomKillsNeitherRepeatNorLoseAnAction) {
  Sandbox box;
  const std::string runs = box.path("/runs"), ends = box.path("/ends");
  // Each run appends its arguments: rule, action, the value it was queued for, the time it was queued at.
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$*\" >> '" + runs + "'\n", 0755);
  write_file(box.path("/bin/slow"),
             "#!/bin/sh\necho \"$*\" >> '" + runs + "'\nsleep 1.5\necho \"$*\" >> '" + ends + "'\n", 0755);
  ConfigBuilder c = enviro_rules(3).set("config.autoresponse.concurrent_actions", 1);
  const std::string args = "$AR_VAL $TIMESTAMP";
  add_script(c, 1, "trigger_actions", 1, "quick", box.path("/bin/act"), "a quick " + args);
  add_script(c, 1, "trigger_actions", 2, "held", box.path("/bin/act"), "a held " + args);
  add_script(c, 1, "trigger_actions", 3, "delayed", box.path("/bin/act"), "a delayed " + args, 1);
  add_script(c, 1, "resolve_actions", 1, "back", box.path("/bin/act"), "a back " + args);
  add_script(c, 2, "trigger_actions", 1, "slow", box.path("/bin/slow"), "b slow " + args);
  add_script(c, 3, "trigger_actions", 1, "again", box.path("/bin/act"), "c again " + args);
  c.set(rule_path(3) + ".repeat_trigger", "on").set(rule_path(3) + ".repeat_timeout", 2);
  write_file(box.path("/etc/config/config.xml"), c.xml());
  ASSERT_TRUE(box.infod.start());

  std::mt19937 random(20261208);
  int value = 30, low = 0;  // every trigger and resolve with a value of its own
  bool triggered[4] = {};
  const std::string ready = "<- push config.autoresponse.daemon.reload.result 0 ok\n";
  for (int kill_n = 0; kill_n <= 50; ++kill_n) {
    ASSERT_TRUE(box.start_daemon());
    ASSERT_TRUE(eventually([&] { return count(read_file(box.infod.log), ready) == kill_n + 1; })) << kill_n;
    for (int pushes = random() % 3; pushes >= 0; --pushes) {
      const int rule = 1 + static_cast<int>(random() % 3);
      triggered[rule] = !triggered[rule];
      ASSERT_TRUE(box.push(enviro_key(rule), triggered[rule] ? std::to_string(++value) : "20." + std::to_string(++low)));
    }
    if (kill_n == 50) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1200));
    kill(box.daemon_pid(), SIGKILL);
    ASSERT_EQ(128 + SIGKILL, box.daemon_exit());
  }
  for (int rule = 1; rule <= 3; ++rule) ASSERT_TRUE(box.push(enviro_key(rule), "20." + std::to_string(++low)));
  const size_t mark = read_file(box.infod.log).size();
  const std::string queue = "<- push config.autoresponse.daemon.queue 0 ";
  ASSERT_TRUE(eventually([&] {
    const std::string log = read_file(box.infod.log);
    const size_t last = log.rfind(queue);
    return count(log.substr(mark), "<- push config.autoresponse.daemon.heartbeat ") >= 2 && last != std::string::npos &&
           log.compare(last + queue.size(), 2, "0\n") == 0 &&
           count(read_file(ends), "\n") == count(read_file(runs), "b slow ");
  }, 120000)) << read_file(runs);

  // No line twice: each names its trigger's own value and the second it was queued at.
  std::set<std::string> seen;
  std::istringstream ran(read_file(runs));
  for (std::string line; std::getline(ran, line);) EXPECT_TRUE(seen.insert(line).second) << "ran twice: " << line;
  const std::string log = read_file(box.infod.log);
  const struct { const char *rule, *action, *word; } actions[] = {
      {"rule1", "quick", "a quick "}, {"rule1", "held", "a held "}, {"rule1", "delayed", "a delayed "},
      {"rule1", "back", "a back "},   {"rule2", "slow", "b slow "}, {"rule3", "again", "c again "}};
  for (const auto& a : actions) {
    const std::string name = std::string(a.action) + " for AR: " + a.rule;
    const int queued = count(log, "Queuing triggered action: " + name + " - ") + count(log, "Queuing resolve action: " + name + " - ");
    const int accounted = count(read_file(runs), a.word) +
                          count(log, std::string(a.action) + " for AR " + a.rule + " was running when the daemon stopped") +
                          count(log, "Dropped action: " + name + " - ");
    EXPECT_LE(queued, accounted) << a.action;
  }
  EXPECT_TRUE(box.daemon_running());
  expect_clean_end(box);
}

}  // namespace
