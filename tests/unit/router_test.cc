// Routing updates to subscriptions: the boundary rule, the index and its
// order.
#include <gtest/gtest.h>

#include "core/router.h"
#include "support/rules.h"
#include "support/test_daemon.h"

namespace {

TEST(RouteMatches, OccurrenceMustEndAtTheKeyEndOrADot) {
  EXPECT_TRUE(route_matches("dev.alarms.1", "dev.alarms.1"));
  EXPECT_TRUE(route_matches("dev.alarms.1", "dev.alarms.1.state"));
  EXPECT_FALSE(route_matches("dev.alarms.1", "dev.alarms.10"));
  // An occurrence in the middle of a key still matches, from any start.
  EXPECT_TRUE(route_matches("ports.port1.temp", "config.ports.port1.temp"));
  EXPECT_TRUE(route_matches("config.sms.incoming", "x.config.sms.incoming"));
  // A later occurrence can match when an earlier one does not.
  EXPECT_TRUE(route_matches("a.b", "a.bc.a.b"));
  EXPECT_FALSE(route_matches("a.b", "a.bc"));
  EXPECT_TRUE(route_matches(".event.status", "config.ups.ups1.event.status"));
}

TEST(RouteIndex, FindsEveryTakerOnceInListOrder) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3);
  add_enviro_rule(c, 1);
  add_enviro_rule(c, 2);
  add_enviro_rule(c, 3);
  // Rules 1 and 3 watch the same sensor; rule 2 another whose key repeats
  // the last component.
  c.set(rule_path(3) + ".enviro.dev_ref", "config.ports.port1.enviro");
  c.set(rule_path(2) + ".enviro.dev_ref", "temp.enviro");
  d.write_config(c);
  d.load();
  auto& found = route_lookup(&d.ctx, "config.ports.port1.enviro.temp");
  ASSERT_EQ(2u, found.size());
  EXPECT_EQ(&d.check(0), found[0]);
  EXPECT_EQ(&d.check(2), found[1]);
  auto& repeated = route_lookup(&d.ctx, "temp.enviro.temp.enviro.temp");
  ASSERT_EQ(1u, repeated.size());
  EXPECT_EQ(&d.check(1), repeated[0]);
  EXPECT_TRUE(route_lookup(&d.ctx, "config.ports.port1.enviro.temperature").empty());
}

TEST(RouteIndex, BothRulesOnOneSensorEvaluateTheUpdateInOrder) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_enviro_rule(c, 1);
  add_enviro_rule(c, 2);
  c.set(rule_path(2) + ".enviro.dev_ref", "config.ports.port1.enviro").set(rule_path(2) + ".enviro.trigger_val", "40");
  d.write_config(c);
  d.load();
  d.take_sent();
  ASSERT_EQ(0, d.deliver(enviro_key(1), "35"));
  EXPECT_EQ(kArTriggered, d.check(0).state);
  EXPECT_EQ(kArNormal, d.check(1).state);
  // A reference in Timeout drops the update; the other still gets it.
  d.check(0).state = kArTimeout;
  ASSERT_EQ(0, d.deliver(enviro_key(1), "45"));
  EXPECT_EQ(kArTriggered, d.check(1).state);
}

TEST(RouteIndex, SubscriptionsOfEveryShape) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 5);
  const char* dev_refs[] = {"config.ups.ups1.event", "", "nodots", "x.", "a..b"};
  for (int n = 1; n <= 5; ++n) {
    add_enviro_rule(c, n);
    c.set(rule_path(n) + ".enviro.dev_ref", dev_refs[n - 1]).set(rule_path(n) + ".enviro.check_type", "status");
  }
  // Rule 2: an empty device reference is rejected, so give it a leading dot.
  c.set(rule_path(2) + ".enviro.dev_ref", ".event");
  d.write_config(c);
  d.load();
  ASSERT_EQ(5u, d.ctx.checks.size());
  // ".event.status" is in every UPS's status key; "nodots.status" matches
  // anywhere it ends at a boundary; "x..status" and "a..b.status" need
  // their empty components.
  auto names = [&](const std::string& key) {
    std::vector<uint32_t> out;
    for (ArCheck* check : route_lookup(&d.ctx, key)) out.push_back(check->ar->index);
    return out;
  };
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), names("config.ups.ups1.event.status"));
  EXPECT_EQ((std::vector<uint32_t>{2}), names("config.ups.ups2.event.status"));
  EXPECT_EQ((std::vector<uint32_t>{3}), names("a.nodots.status.b"));
  EXPECT_EQ((std::vector<uint32_t>{4}), names("yx..status"));
  EXPECT_EQ((std::vector<uint32_t>{5}), names("a..b.status"));
  EXPECT_TRUE(names("config.ups.ups1.event.statusx").empty());
}

TEST(RouteIndex, ManyRulesOnOneLastComponentStayApart) {
  TestDaemon d;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 300);
  for (int n = 1; n <= 300; ++n) add_enviro_rule(c, n);
  d.write_config(c);
  d.load();
  for (int n : {1, 10, 100, 299, 300}) {
    const auto& found = route_lookup(&d.ctx, enviro_key(n));
    ASSERT_EQ(1u, found.size()) << n;
    EXPECT_EQ(static_cast<uint32_t>(n), found[0]->ar->index);
  }
}

}  // namespace
