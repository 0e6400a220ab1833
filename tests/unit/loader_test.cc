// Loading rules from the configuration database: what is kept, what is rejected without a trace, and reloads.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>

#include "config/config_file.h"
#include "daemon/reload.h"
#include "engine/state.h"
#include "model/autoresponse.h"
#include "support/rules.h"

namespace {


const std::string kStatus = "config.autoresponse.daemon.";

// What went to infod: "type key", and "=value" for a push; the daemon's own status keys apart, into status
// when given, as "name=value".
Strings wire(TestDaemon& d, Strings* status = nullptr) {
  Strings out;
  for (const SentMessage& m : d.take_sent()) {
    if (m.key.rfind(kStatus, 0) == 0) {
      if (status != nullptr && m.key != kStatus + "reload.mtime") status->push_back(m.key.substr(kStatus.size()) + "=" + m.value);
      continue;
    }
    out.push_back(std::to_string(m.type) + " " + m.key + (m.type == 1 ? "=" + m.value : ""));
  }
  return out;
}

// The start-up traffic of reference ref of rule n (named "rule<n>").
Strings normal(int n, int ref) {
  const std::string r = std::to_string(ref), i = std::to_string(n);
  return {"2 " + enviro_key(n), "1 " + rule_path(n) + ".refs.ref" + r + ".status=Normal",
          "1 config.autoresponse.log=AR: name=rule" + i + ", index=" + i + ", ref=" + r + ", state=Normal"};
}

TEST(Loader, RejectedRulesLeaveNoTraceAndTheWholeOneGetsEverything) {
  TestDaemon d;
  ConfigBuilder c = enviro_rules(7);
  for (int n : {1, 2}) c.set(rule_path(n) + ".trigger_actions.total", n);
  add_action(c, 1, "trigger_actions", 1, "upper", "SMS");
  add_action(c, 2, "trigger_actions", 1, "first", "custom");  // the second has no name
  c.set(rule_path(3) + ".check_type", "thermometer").set(rule_path(4) + ".check_type", "net_tcp");
  c.set(rule_path(5) + ".name", "");
  c.set(rule_path(7) + ".check_type", "conman").set(rule_path(7) + ".conman.ref", "config.nowhere");  // no key
  // Rule 6 is whole, with two references; a schedule is off without a start on day 0.
  c.set(rule_path(6) + ".enviro.dev_refs.total", 2).set(rule_path(6) + ".repeat_timeout", "0");
  c.set(rule_path(6) + ".disable.day3.start_hour", 9).set(rule_path(6) + ".disable.day3.end_hour", 17);
  d.write_config(c);
  ASSERT_EQ(0, d.load());
  for (const char* line : {"Unknown action SMS", "Error creating action list for ar", "Action has no name",
                           "No corresponding config domain found for: 0", "Unknown check type",
                           "Could not load old style Autoresponse config.autoresponse.autoresponse4",
                           "AutoResponse config.autoresponse.autoresponse5 has invalid name",
                           "Could not load ar config.autoresponse.autoresponse5",
                           "No subscription for rule: config.autoresponse.autoresponse7 - 1"}) {
    EXPECT_TRUE(d.logged(line)) << line;
  }
  // Rules 4 (a type without a check module) and 7 stay, without a reference.
  ASSERT_EQ(3u, d.ctx.config->rules.size());
  EXPECT_EQ(4u, d.ctx.config->rules.front().index);
  const AutoResponse& six = *std::next(d.ctx.config->rules.begin());
  EXPECT_EQ(0, six.repeat_timeout);
  EXPECT_FALSE(six.schedule_enabled);
  EXPECT_EQ(nullptr, six.disable.get());  // no windows are kept for a schedule that is off
  Strings want = normal(6, 1), status;
  for (const std::string& line : normal(6, 2)) want.push_back(line);
  want.push_back("4 config.ports.port6.enviro.temp");  // one read of the level both references listen to
  EXPECT_EQ(want, wire(d, &status));
  // The daemon's status names what it loaded (rule numbers, references, kinds and names) and the checksum of
  // the bytes it loaded; the load's number and result come last.
  EXPECT_EQ((Strings{"reload.time=1700000000", "reload.checksum=" + config_file_facts(d.dir() + "/config.xml").checksum,
                     "rules=3", "references=2", "loaded.1=4 - net_tcp rule4;6 1-2 environmental rule6;7 - conman rule7",
                     "loaded=1", "reload.changes=-", "reload.number=1", "reload.result=ok"}),
            status);
}

// Counts beyond reason are cut with one line naming the key: no loop or allocation for billions of entries.
TEST(Loader, AbsurdTotalsAreCutAndSaidSo) {
  TestDaemon d;
  ConfigBuilder c = enviro_rules(2).set("config.autoresponse.total", 2000000000);
  c.set(rule_path(1) + ".enviro.dev_refs.total", 2000000000).set(rule_path(2) + ".trigger_actions.total", 1025);
  for (int k = 1; k <= 1025; ++k) add_action(c, 2, "trigger_actions", k, "a" + std::to_string(k), "custom");
  c.set(rule_path(1) + ".resolve_actions.total", 1024);  // at the limit, not cut: the rule's missing names reject it
  ASSERT_EQ(0, d.load(c));
  const auto cut = [&](const std::string& key, int value, int limit) {
    return d.logged_at(300, "Too many entries in " + key + ": " + std::to_string(value) + ", reading the first " +
                                std::to_string(limit));
  };
  EXPECT_EQ(1, cut("config.autoresponse.total", 2000000000, 10000));
  EXPECT_EQ(1, cut(rule_path(2) + ".trigger_actions.total", 1025, 1024));
  EXPECT_EQ(0, cut(rule_path(1) + ".resolve_actions.total", 1024, 1024));
  EXPECT_TRUE(d.logged("Could not load ar " + rule_path(1)));
  EXPECT_TRUE(d.logged("Could not load ar " + rule_path(10000)));
  EXPECT_FALSE(d.logged("Could not load ar " + rule_path(10001)));
  ASSERT_EQ(1u, d.ctx.config->rules.size());
  EXPECT_EQ(1024u, d.ctx.config->rules.front().trigger_actions.size());
  // The references of a rule: rule 1 again, without its broken resolve list; and central-management nodes,
  // whose actions lead both lists of every rule, each kept once for all of them.
  c.set(rule_path(1) + ".resolve_actions.total", 0).set("config.autoresponse.total", 2).set("config.cms.enabled", "on");
  for (int k = 1; k <= 1025; ++k) c.set("config.cms.cms" + std::to_string(k) + ".delay_time", k);
  unload_config(&d.ctx);
  d.logs.clear();
  ASSERT_EQ(0, d.load(c));
  EXPECT_EQ(1, cut(rule_path(1) + ".enviro.dev_refs.total", 2000000000, 1024));
  EXPECT_EQ(1, cut("config.cms", 1025, 1024));
  EXPECT_EQ(1025u, d.ctx.config->checks.size());
  const AutoResponse &one = d.ctx.config->rules.front(), &two = d.ctx.config->rules.back();
  ASSERT_EQ(1024u, one.trigger_actions.size());
  ASSERT_EQ(1024u + 1024, two.trigger_actions.size());
  EXPECT_EQ(&one.trigger_actions[1023], &two.resolve_actions[1023]);
  EXPECT_EQ("config.cms.cms1024", action_path(two, two.resolve_actions[1023]));
  EXPECT_EQ(1024, two.trigger_actions[1023].delay_time);
  EXPECT_EQ(rule_path(2) + ".trigger_actions.action1", action_path(two, two.trigger_actions[1024]));
}

// A reload keeps a rule no edit touched exactly as it runs and sends nothing about it; a rule whose element changed
// anywhere (even where nothing reads) is built again, and so are all when config.cms changed: each of its references
// whose key stays takes its state along and publishes it, one with another key starts afresh and reads its level; a
// key that a kept reference still watches stays subscribed; a file that cannot be opened keeps everything.
TEST(Loader, AReloadKeepsWhatNoEditTouchedAndStartsTheRestAgain) {
  TestDaemon d;
  // Rules 1 and 2 watch the same sensor, rule 3 another.
  ConfigBuilder c = enviro_rules(3).set("config.autoresponse.boot_delay", -5);
  c.set(rule_path(2) + ".enviro.dev_ref", "config.ports.port1.enviro");
  ASSERT_EQ(0, d.load(c.set("config.autoresponse.concurrent_actions", 5)));
  EXPECT_EQ(0u, d.ctx.boot_delay);  // not a wait for ever
  for (int n : {1, 3}) ASSERT_EQ(0, d.deliver(enviro_key(n), "35"));
  d.take_sent();
  std::string changes;  // what the last reload kept and started again
  const auto reload = [&](const ConfigBuilder& edited) {
    d.write_config(edited);
    reload_config(SIGHUP, 0, &d.ctx);
    Strings status;
    const Strings sent = wire(d, &status);
    for (const std::string& s : status) if (s.rfind("reload.changes=", 0) == 0) changes = s.substr(15);
    return sent;
  };
  const auto states = [&] {
    std::string s;
    for (const ArCheck& check : d.ctx.config->checks) s += reference_state_name(check.state)[0];
    return s;
  };
  const std::string log2 = "1 config.autoresponse.log=AR: name=rule2, index=2, ref=1, state=Normal";
  // Daemon-wide settings change no rule; a limit of 0 keeps the one in force.
  EXPECT_EQ(Strings{}, reload(c.set("config.autoresponse.concurrent_actions", 0)));
  EXPECT_EQ(5, d.ctx.queue.concurrent_actions);
  EXPECT_EQ("TTT", states());
  EXPECT_EQ("3 rules unchanged", changes);
  // An element of rule 2 that nothing reads: rule 2 alone is built again and carries its state, and the key rule 1
  // watches stays.
  EXPECT_EQ((Strings{"2 " + enviro_key(1), "1 " + rule_path(2) + ".refs.ref1.status=Triggered",
                     "1 " + rule_path(2) + ".refs.ref1.curr_entry.status=35",
                     "1 config.autoresponse.log=AR: name=rule2, index=2, ref=1, state=Triggered, event=" + enviro_key(1) +
                         ", value=35"}),
            reload(c.set(rule_path(2) + ".note", "edited")));
  EXPECT_EQ("TTT", states());
  EXPECT_EQ("2 rules unchanged, 1 changed: rule2 carried", changes);
  // Rule 3 moved to another sensor: its old key goes, it starts afresh and asks for the new one's level.
  Strings want{"3 " + enviro_key(3), "2 " + enviro_key(4), "1 " + rule_path(3) + ".refs.ref1.status=Normal",
               "1 config.autoresponse.log=AR: name=rule3, index=3, ref=1, state=Normal", "4 " + enviro_key(4)};
  EXPECT_EQ(want, reload(c.set(rule_path(3) + ".enviro.dev_ref", "config.ports.port4.enviro")));
  EXPECT_EQ("TTN", states());
  EXPECT_EQ("2 rules unchanged, 1 changed: rule3 reset", changes);
  // Central management switched on: every rule starts again, and its actions lead their lists; kept again, a
  // rule without a resolve stage (an SMS command) still has no resolve list.
  ASSERT_EQ(0, d.deliver(enviro_key(4), "35"));
  d.take_sent();
  c.set("config.autoresponse.total", 4).set(rule_path(4) + ".name", "sms").set(rule_path(4) + ".check_type", "sms");
  // Each Triggered reference carried runs the central-management action it never had.
  const Strings cms = reload(c.set("config.cms.enabled", "on"));
  EXPECT_EQ(21u, cms.size());
  EXPECT_EQ(3, std::count_if(cms.begin(), cms.end(), [](const std::string& m) {
              return m.find("Queuing triggered action: CMS action for AR: rule") != std::string::npos;
            }));
  EXPECT_EQ("TTTN", states());
  EXPECT_EQ("0 rules unchanged, 3 changed: rule1 carried; rule2 carried; rule3 carried; 1 added: sms", changes);
  EXPECT_EQ(Strings{}, reload(c.set("config.autoresponse.concurrent_actions", 3)));
  const AutoResponse& sms = d.ctx.config->rules.back();
  EXPECT_EQ(1u, sms.trigger_actions.size());
  EXPECT_EQ(0u, sms.resolve_actions.size());

  // A file gone or half-written: the running rules stay exactly as they were.
  ASSERT_EQ(0, d.deliver(enviro_key(1), "35"));
  d.take_sent();
  const std::string file = d.dir() + "/config.xml";
  std::filesystem::remove(file);
  const struct { const char* text; std::string number, result; } broken[] = {
      {"", "reload.number=7", "reload.result=" + file + ": No such file or directory"},
      {"<config><autoresponse><total>1</total>", "reload.number=8",
       "reload.result=" + file + ": no element found at line 1, column 39"}};
  for (const auto& k : broken) {
    if (*k.text != '\0') std::ofstream(file) << k.text;
    d.logs.clear();
    reload_config(SIGHUP, 0, &d.ctx);
    EXPECT_TRUE(d.logged("Could not open config database"));
    Strings status;
    EXPECT_EQ(Strings{}, wire(d, &status));
    EXPECT_EQ((Strings{"reload.time=1700000000", k.number, k.result}), status);
    EXPECT_EQ("TTTN", states());
  }
  // The old contents still answer the running rules' reads: 28 resolves.
  ASSERT_EQ(0, d.deliver(enviro_key(1), "28"));
  EXPECT_EQ("NNTN", states());
}

}  // namespace
