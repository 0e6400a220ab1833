// Resets that must lose no alarm, driven through the real daemon and through `arctl test`'s simulation from one
// scenario: the two agree on every rule's states and on every program run.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include "support/e2e.h"
#include "support/simulated.h"

namespace {

using namespace e2e;

// States as published_states() has them, by rule: each rule's own in order.
std::map<int, Strings> by_rule(const Strings& states) {
  std::map<int, Strings> each;
  for (const std::string& s : states) each[std::stoi(s)].push_back(s.substr(s.find(' ') + 1));
  return each;
}

// Runs of one rule keep their order; those of different rules may meet in another order.
Strings rule_by_rule(Strings runs) {
  std::stable_sort(runs.begin(), runs.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 5) < b.substr(0, 5);
  });
  return runs;
}

// Rules, each a story of its own on a sensor of its own (rule n on port n), the stories side by side in one run.
// Rule 8 is a login rule; every action runs /bin/act with its rule's name and what it is.
ConfigBuilder stories(const std::string& act) {
  ConfigBuilder c = enviro_rules(7);
  const auto script = [&](int n, const char* list, int k, const char* name, int delay = 0) {
    add_script(c, n, list, k, name, act, "rule" + std::to_string(n) + " " + name + " $AR_VAL", delay);
  };
  for (int n = 1; n <= 7; ++n) {
    script(n, "trigger_actions", 1, "page");
    script(n, "resolve_actions", 1, "back");
  }
  c.set(rule_path(1) + ".reset_timeout", 1);  // a Timeout ending with a bad reading
  script(4, "trigger_actions", 2, "shed", 2);  // an edit of a text while a delayed action waits
  c.set("config.autoresponse.total", 8);
  add_rule(c, 8, "logins", "cli_login", "cli_login.trigger_auth_error=on;reset_timeout=6");
  script(8, "trigger_actions", 1, "alert");
  return c;
}

// The scenario, as `arctl test` reads it; the real run does the same at the same times (seconds from when the
// daemon's first load is done), a reply at 0 being what infod holds before the daemon starts.
std::string scenario(const std::string& edited) {
  std::string counters;  // what infod holds of each sensor's trigger count, which a trigger reads
  for (int n = 1; n <= 7; ++n) counters += "at 0 reply config.ports.port" + std::to_string(n) + ".enviro.count.temp 0\n";
  return counters +
         "at 0 reply config.ports.port7.enviro.temp 35\n"  // 7: a start with a value already in infod
         "at 1 push config.ports.port1.enviro.temp 35\n"
         "at 1 push config.ports.port1.enviro.temp 20\n"   // 1: resolved, a Timeout of a second
         "at 1 push config.ports.port1.enviro.temp 36\n"   // which drops this, judged as the Timeout ends
         "at 1 push config.ports.port2.enviro.temp 35\n"   // 2: silenced right after it ran
         "at 1 command " + rule_path(2) + ",admin,silence,4,0\n"
         "at 1 command " + rule_path(3) + ",admin,silence,4,0\n"
         "at 1 command " + rule_path(5) + ",admin,silence,4,0\n"
         "at 1 push config.ports.port4.enviro.temp 35\n"
         "at 1 push config.ports.port6.enviro.temp 35\n"
         "at 1 push config.pam.auth_event.auth_error root:sshd:x:192.0.2.9\n"
         "at 1.5 push config.ports.port2.enviro.temp 20\n"  // resolved inside its silence: the resolve is held back
         "at 1.5 push config.ports.port3.enviro.temp 35\n"  // 3: triggered inside, still Triggered at its end
         "at 1.5 push config.ports.port5.enviro.temp 35\n"  // 5: triggered and resolved inside: nothing runs
         "at 2 push config.ports.port5.enviro.temp 20\n"
         "at 2 push config.pam.auth_event.auth_error root:sshd:x:192.0.2.10\n"  // 8: inside its Timeout, never judged
         "at 2.5 config " + edited + "\n"
         "at 2.5 hup\n"  // 4: its resolve text edited while a delayed action waits; 6: its threshold raised above 35
         "at 14 push config.ports.port4.enviro.temp 20\n"
         "at 20 end\n";
}

ConfigBuilder edited(ConfigBuilder c) {
  c.set(rule_path(4) + ".resolve_actions.action1.custom.args.arg1", "rule4 back, edited $AR_VAL");
  c.set(rule_path(6) + ".enviro.trigger_val", 40);
  return c;
}

// Each "at T ..." line of the scenario, by its time.
struct Line {
  double at;
  std::string verb, rest;
};

std::vector<Line> lines_of(const std::string& text) {
  std::vector<Line> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    Line l;
    std::string at;
    words >> at >> l.at >> l.verb;
    std::getline(words >> std::ws, l.rest);
    lines.push_back(l);
  }
  std::stable_sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.at < b.at; });
  return lines;
}

TEST(LevelsE2e, ResetsLoseNoAlarmAndTheSimulationAgrees) {
  Sandbox box;
  const std::string runs = box.path("/runs");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + runs + "'\n", 0755);
  const ConfigBuilder first = stories(box.path("/bin/act")), second = edited(first);
  const std::string v2 = box.path("/v2.xml");
  write_file(v2, second.xml());
  const std::vector<Line> steps = lines_of(scenario(v2));

  // The real daemon.
  box.write_config(first);
  ASSERT_TRUE(box.infod.start());
  for (const Line& l : steps) {
    if (l.verb == "reply") {
      ASSERT_TRUE(box.push(l.rest.substr(0, l.rest.find(' ')), l.rest.substr(l.rest.find(' ') + 1)));
    }
  }
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.infod.logged("<- push config.autoresponse.daemon.reload.result 0 ok"));
  const auto zero = SteadyClock::now();
  std::string next_config;
  for (const Line& l : steps) {
    std::this_thread::sleep_until(zero + std::chrono::milliseconds(static_cast<int64_t>(l.at * 1000)));
    if (l.verb == "push") {
      ASSERT_TRUE(box.push(l.rest.substr(0, l.rest.find(' ')), l.rest.substr(l.rest.find(' ') + 1)));
    } else if (l.verb == "command") {
      ASSERT_TRUE(box.push("config.autoresponse.command", l.rest));
    } else if (l.verb == "config") {
      next_config = l.rest;
    } else if (l.verb == "hup") {
      write_file(box.path("/etc/config/config.xml"), read_file(next_config));
      kill(box.daemon_pid(), SIGHUP);
      ASSERT_TRUE(box.infod.logged("<- push config.autoresponse.daemon.reload.changes 0 "));
    }
  }
  // Past the ticks that release what waits, and what they released has run.
  std::this_thread::sleep_until(zero + std::chrono::seconds(20));
  ASSERT_TRUE(eventually([&] { return count(read_file(runs), "rule4 back, edited 20\n") == 1; })) << read_file(runs);
  const std::map<int, Strings> states = by_rule(published_states(box));
  const Strings ran = lines_in(runs);

  // The simulation of the same.
  const SimulatedRun sim = simulate_test({{"v1.xml", first.xml()}}, "config v1.xml\n" + scenario(v2));
  EXPECT_EQ(states, by_rule(sim.states));
  EXPECT_EQ(rule_by_rule(ran), rule_by_rule(sim.runs));

  // What each story must come to.
  const std::map<int, Strings> want{
      {1, {"Normal", "Triggered", "Resolving", "Timeout", "Normal", "Triggered"}},
      {2, {"Normal", "Triggered", "Resolving", "Normal"}},
      {3, {"Normal", "Triggered"}},
      {4, {"Normal", "Triggered", "Triggered", "Resolving", "Normal"}},
      {5, {"Normal", "Triggered", "Resolving", "Normal"}},
      {6, {"Normal", "Triggered", "Triggered", "Resolving", "Normal"}},
      {7, {"Normal", "Triggered"}},
      {8, {"Normal", "Triggered", "Timeout", "Normal"}},
  };
  EXPECT_EQ(want, states);
  for (const char* run : {"rule1 page 35", "rule1 back 20", "rule1 page 36", "rule2 page 35", "rule2 back 20",
                                 "rule3 page 35", "rule4 page 35", "rule4 shed 35", "rule4 back, edited 20",
                                 "rule6 page 35", "rule6 back 35", "rule7 page 35"}) {
    EXPECT_EQ(1, std::count(ran.begin(), ran.end(), run)) << run;
  }
  EXPECT_EQ(1, std::count_if(ran.begin(), ran.end(),
                             [](const std::string& r) { return r.rfind("rule8 alert", 0) == 0; }));
  EXPECT_EQ(13u, ran.size()) << read_file(runs);  // rule 5 ran nothing, rule 8 once
  expect_clean_end(box);
}

}  // namespace
