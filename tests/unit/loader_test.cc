// Loading rules from the configuration database: what is kept, what is
// rejected without a trace, and what a reload does.
#include <gtest/gtest.h>

#include <signal.h>

#include "config/autoresponse.h"
#include "support/rules.h"
#include "support/test_daemon.h"

namespace {

std::vector<std::string> names(const ActionList& list) {
  std::vector<std::string> out;
  for (const Action& a : list) out.push_back(a.name + "@" + a.path);
  return out;
}

const AutoResponse& rule(TestDaemon& d, size_t n) {
  auto it = d.ctx.autoresponses.begin();
  std::advance(it, static_cast<long>(n));
  return *it;
}

TEST(Loader, NoRulesStillReadsTheDaemonSettings) {
  TestDaemon d;
  d.write_config(ConfigBuilder().set("config.autoresponse.boot_delay", 40).set("config.autoresponse.concurrent_actions", 5));
  ASSERT_EQ(0, d.load());
  EXPECT_TRUE(d.ctx.checks.empty());
  EXPECT_TRUE(d.take_sent().empty());
  EXPECT_EQ(40u, d.ctx.boot_delay);
  EXPECT_EQ(5, d.ctx.concurrent_actions);
}

TEST(Loader, AMissingDatabaseLeavesTheDaemonRunningEmpty) {
  TestDaemon d;
  EXPECT_EQ(-1, d.load());
  EXPECT_TRUE(d.logged("Could not open config database"));
  EXPECT_EQ(nullptr, d.ctx.config_db);
  unload_config(&d.ctx);  // a later reload must not close it twice
}

TEST(Loader, NegativeBootDelayMeansNone) {
  TestDaemon d;
  d.write_config(ConfigBuilder().set("config.autoresponse.boot_delay", -5).set("config.autoresponse.concurrent_actions", -1));
  d.load();
  EXPECT_EQ(0u, d.ctx.boot_delay);
  EXPECT_EQ(2, d.ctx.concurrent_actions);
}

TEST(Loader, ABadRuleInTheMiddleLeavesTheOthers) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3);
  add_enviro_rule(c, 1);
  add_enviro_rule(c, 2);
  c.set(rule_path(2) + ".name", "");
  add_enviro_rule(c, 3);
  d.write_config(c);
  ASSERT_EQ(0, d.load());
  ASSERT_EQ(2u, d.ctx.autoresponses.size());
  EXPECT_EQ(1u, rule(d, 0).index);
  EXPECT_EQ(3u, rule(d, 1).index);
  EXPECT_TRUE(d.logged("AutoResponse config.autoresponse.autoresponse2 has invalid name"));
  EXPECT_TRUE(d.logged("Could not load ar config.autoresponse.autoresponse2"));
}

TEST(Loader, StartUpTrafficIsSubscriptionThenNormalPerCheck) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_enviro_rule(c, 1, "first");
  add_enviro_rule(c, 2, "second");
  d.write_config(c);
  d.load();
  const auto sent = d.take_sent();
  ASSERT_EQ(6u, sent.size());
  EXPECT_EQ(2, sent[0].type);
  EXPECT_EQ(enviro_key(1), sent[0].key);
  EXPECT_EQ("config.autoresponse.autoresponse1.refs.ref1.status", sent[1].key);
  EXPECT_EQ("Normal", sent[1].value);
  EXPECT_EQ(2, sent[1].number);
  EXPECT_EQ("config.autoresponse.log", sent[2].key);
  EXPECT_EQ("AR: name=first, index=1, ref=1, state=Normal", sent[2].value);
  EXPECT_EQ(0, sent[2].number);
  EXPECT_EQ(enviro_key(2), sent[3].key);
}

TEST(Loader, RuleSettings) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3);
  add_enviro_rule(c, 1);
  add_enviro_rule(c, 2);
  c.set(rule_path(2) + ".repeat_timeout", "0").set(rule_path(2) + ".repeat_trigger", "on").set(rule_path(2) + ".reset_timeout", 60);
  add_enviro_rule(c, 3);
  // Day 3 configured, day 0 not: the schedule stays off.
  c.set(rule_path(3) + ".disable.day3.start_hour", 9).set(rule_path(3) + ".disable.day3.end_hour", 17);
  d.write_config(c);
  d.load();
  EXPECT_EQ(300, rule(d, 0).repeat_timeout);
  EXPECT_FALSE(rule(d, 0).repeat_trigger);
  EXPECT_EQ(0, rule(d, 1).repeat_timeout);
  EXPECT_TRUE(rule(d, 1).repeat_trigger);
  EXPECT_EQ(60, rule(d, 1).reset_timeout);
  EXPECT_FALSE(rule(d, 2).schedule_enabled);
  EXPECT_EQ(0, rule(d, 2).disable[3].end_hour);
}

TEST(Loader, ScheduleWindowsAreReadPerDay) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1);
  c.set(rule_path(1) + ".disable.day0.start_hour", "8").set(rule_path(1) + ".disable.day6.start_min", 15)
      .set(rule_path(1) + ".disable.day6.end_hour", 23);
  d.write_config(c);
  d.load();
  EXPECT_TRUE(rule(d, 0).schedule_enabled);
  EXPECT_EQ(8, rule(d, 0).disable[0].start_hour);
  EXPECT_EQ(15, rule(d, 0).disable[6].start_min);
  EXPECT_EQ(23, rule(d, 0).disable[6].end_hour);
}

TEST(Loader, ReferencesMakeOneCheckEach) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_enviro_rule(c, 1);
  c.set(rule_path(1) + ".enviro.dev_refs.total", 3);
  add_enviro_rule(c, 2);
  c.set(rule_path(2) + ".trigger_actions.total", 2);
  add_action(c, 2, "trigger_actions", 1, "a", "custom");
  add_action(c, 2, "trigger_actions", 2, "b", "custom", 60);
  d.write_config(c);
  d.load();
  ASSERT_EQ(4u, d.ctx.checks.size());
  EXPECT_EQ(1u, d.check(0).ref_index);
  EXPECT_EQ(3u, d.check(2).ref_index);
  EXPECT_EQ("config.autoresponse.autoresponse1.refs.ref3.curr_entry", d.check(2).curr_entry_key);
  ASSERT_EQ(2u, d.check(3).trigger_actions.size());
  EXPECT_EQ(0, d.check(3).trigger_actions[0].delay_time);
  EXPECT_EQ(60, d.check(3).trigger_actions[1].delay_time);
  EXPECT_TRUE(d.check(3).resolve_actions.empty());
}

TEST(Loader, EveryReferenceIsSubscribedOnItsOwn) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1);
  c.set(rule_path(1) + ".enviro.dev_refs.total", 3);
  d.write_config(c);
  d.load();
  ASSERT_EQ(3u, d.ctx.checks.size());
  // Same key for all three references: the environmental check has one
  // device reference setting; every reference is subscribed on its own.
  const auto subs = d.take_sent();
  int subscriptions = 0;
  for (const auto& m : subs) subscriptions += m.type == 2;
  EXPECT_EQ(3, subscriptions);
}

TEST(Loader, RejectedRulesLeaveNoTrace) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 5);
  add_enviro_rule(c, 1);
  add_action(c, 1, "trigger_actions", 1, "upper", "SMS");
  add_enviro_rule(c, 2);
  c.set(rule_path(2) + ".trigger_actions.total", 2);
  add_action(c, 2, "trigger_actions", 1, "first", "custom");
  add_enviro_rule(c, 3);
  c.set(rule_path(3) + ".check_type", "thermometer");
  add_enviro_rule(c, 4);
  c.set(rule_path(4) + ".check_type", "net_tcp");
  add_enviro_rule(c, 5);
  c.set(rule_path(1) + ".trigger_actions.total", 1);
  d.write_config(c);
  d.load();
  EXPECT_TRUE(d.logged("Unknown action SMS"));
  EXPECT_TRUE(d.logged("Error creating action list for ar"));
  EXPECT_TRUE(d.logged("Action has no name"));
  EXPECT_TRUE(d.logged("No corresponding config domain found for: 0"));
  EXPECT_TRUE(d.logged("Unknown check type"));
  // Rule 4 (no check module) stays loaded without an ArCheck; rule 5 is whole.
  ASSERT_EQ(2u, d.ctx.autoresponses.size());
  EXPECT_EQ(4u, rule(d, 0).index);
  EXPECT_EQ(5u, rule(d, 1).index);
  ASSERT_EQ(1u, d.ctx.checks.size());
  EXPECT_EQ(5u, d.check(0).ar->index);
  EXPECT_TRUE(d.logged("Could not load old style Autoresponse config.autoresponse.autoresponse4"));
}

TEST(Loader, RulesWithoutResolveStageLoadNoResolveActions) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3);
  const char* types[] = {"sms", "alarm", "alarm"};
  for (int n = 1; n <= 3; ++n) {
    c.set(rule_path(n) + ".name", "r" + std::to_string(n)).set(rule_path(n) + ".check_type", types[n - 1]);
    c.set(rule_path(n) + ".resolve_actions.total", 1);
    add_action(c, n, "resolve_actions", 1, "res", "custom");
  }
  c.set(rule_path(2) + ".alarm.trigger_on_change", "true");
  d.write_config(c);
  d.load();
  ASSERT_EQ(3u, d.ctx.autoresponses.size());
  EXPECT_FALSE(rule(d, 0).has_resolve);
  EXPECT_TRUE(rule(d, 0).resolve_actions.empty());
  EXPECT_FALSE(rule(d, 1).has_resolve);
  EXPECT_TRUE(rule(d, 1).resolve_actions.empty());
  EXPECT_TRUE(rule(d, 2).has_resolve);
  EXPECT_EQ(1u, rule(d, 2).resolve_actions.size());
}

TEST(Loader, CentralManagementActionsComeFirst) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.cms.enabled", "on").set("config.cms.cms1.node.name", "n1").set("config.cms.other.x", "1")
      .set("config.cms.cms2.node.name", "n2").set("config.cms.cms_with_a_rather_long_node_name.node.name", "n3");
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1);
  c.set(rule_path(1) + ".trigger_actions.total", 1).set(rule_path(1) + ".resolve_actions.total", 1);
  add_action(c, 1, "trigger_actions", 1, "t1", "custom");
  add_action(c, 1, "resolve_actions", 1, "r1", "custom");
  d.write_config(c);
  d.load();
  const AutoResponse& ar = rule(d, 0);
  const std::vector<std::string> trigger = {
      "CMS action@config.cms.cms1", "CMS action@config.cms.cms2",
      "CMS action@config.cms.cms_with_a_rather_long_node_name",
      "t1@config.autoresponse.autoresponse1.trigger_actions.action1"};
  EXPECT_EQ(trigger, names(ar.trigger_actions));
  EXPECT_EQ(4u, ar.resolve_actions.size());
  EXPECT_EQ("CMS action@config.cms.cms1", names(ar.resolve_actions)[0]);
}

TEST(Loader, CentralManagementWithoutNodesUsesTheRoot) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.cms.enabled", "yes").set("config.cms.server", "x");
  c.set("config.autoresponse.total", 1);
  add_enviro_rule(c, 1);
  d.write_config(c);
  d.load();
  EXPECT_EQ(std::vector<std::string>{"CMS action@config.cms"}, names(rule(d, 0).trigger_actions));
}

TEST(Loader, ReloadStartsEveryReferenceAgainInNormal) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1).set("config.autoresponse.concurrent_actions", 5);
  add_enviro_rule(c, 1);
  d.write_config(c);
  d.load();
  ASSERT_EQ(0, d.deliver(enviro_key(1), "35"));
  ASSERT_EQ(kArTriggered, d.check(0).state);
  d.take_sent();
  c.set("config.autoresponse.concurrent_actions", "");
  d.write_config(c);
  reload_config(SIGHUP, 0, &d.ctx);
  EXPECT_TRUE(d.logged("SIGHUP - Reloading Config"));
  const auto sent = d.take_sent();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(3, sent[0].type);
  EXPECT_EQ(enviro_key(1), sent[0].key);
  EXPECT_EQ(2, sent[1].type);
  EXPECT_EQ("Normal", sent[2].value);
  EXPECT_EQ(kArNormal, d.check(0).state);
  EXPECT_EQ(5, d.ctx.concurrent_actions);
}

}  // namespace
