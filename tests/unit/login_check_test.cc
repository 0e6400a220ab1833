// Web UI and CLI login event checks: which key each flag combination
// subscribes to, which updates trigger, and what they describe.
#include <gtest/gtest.h>

#include <string>

#include "support/check_probe.h"

namespace {

const std::string kRule = probe_rule_path(1);

// Loads one login rule of `type` with the flags set; it stays Triggered
// once triggered. Returns the subscription, "" when no ArCheck was made.
std::string load_login(TestDaemon& d, const std::string& type, bool login, bool logout, bool auth_error) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  probe_rule(c, 1, type);
  probe_hold_triggered(c, 1);
  c.set(kRule + "." + type + ".trigger_login", login ? "on" : "off")
      .set(kRule + "." + type + ".trigger_logout", logout ? "true" : "0")
      .set(kRule + "." + type + ".trigger_auth_error", auth_error ? "1" : "no");
  d.write_config(c);
  EXPECT_EQ(d.load(), 0);
  d.take_sent();
  return d.ctx.checks.empty() ? "" : d.check(0).subscription;
}

TEST(LoginCheck, SubscribesByTheFlagsSet) {
  struct Case {
    const char* type;
    bool login, logout, auth_error;
    const char* key;
  } const cases[] = {
      {"webui_login", true, false, false, "config.webui.auth_event.login"},
      {"webui_login", false, true, false, "config.webui.auth_event.logout"},
      {"webui_login", false, false, true, "config.webui.auth_event.auth_error"},
      {"webui_login", true, true, false, "config.webui.auth_event"},
      {"cli_login", false, false, true, "config.pam.auth_event.auth_error"},
      {"cli_login", false, true, true, "config.pam.auth_event"},
      {"cli_login", false, false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.key);
    TestDaemon d;
    EXPECT_EQ(load_login(d, c.type, c.login, c.logout, c.auth_error), c.key);
    if (c.key[0] == '\0') {
      EXPECT_TRUE(d.logged("No subscription for rule: " + kRule + " - 1"));
    }
  }
}

TEST(LoginCheck, AnAuthErrorTriggersTheWebCheckWatchingForOne) {
  TestDaemon d;
  load_login(d, "webui_login", false, false, true);
  ASSERT_EQ(d.deliver("config.webui.auth_event.auth_error", "admin from 192.0.2.7"), 0);
  EXPECT_EQ(d.check(0).state, kArTriggered);
  EXPECT_TRUE(d.logged("AR " + kRule + " triggered. val admin from 192.0.2.7"));
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.first, "AUTH ERROR: admin from 192.0.2.7");
  EXPECT_EQ(t.second, "N/A");
  EXPECT_EQ(t.third, "N/A");
}

TEST(LoginCheck, TheBroadKeyTriggersOnlyForTheChosenKinds) {
  TestDaemon d;
  load_login(d, "webui_login", true, true, false);
  ASSERT_EQ(d.deliver("config.webui.auth_event.auth_error", "mallory"), 0);
  EXPECT_TRUE(d.take_sent().empty());
  ASSERT_EQ(d.deliver("config.webui.auth_event.logout", "alice"), 0);
  EXPECT_EQ(d.check(0).state, kArTriggered);
  EXPECT_EQ(describe_trigger_of(d.check(0)).first, "LOGOUT: alice");
}

TEST(LoginCheck, TheCliCheckTriggersOnTheFirstEventAndIgnoresTheRestUntilNormal) {
  TestDaemon d;
  load_login(d, "cli_login", true, true, true);
  ASSERT_EQ(d.deliver("config.pam.auth_event.auth_error", "root"), 0);
  EXPECT_EQ(d.check(0).state, kArTriggered);
  d.take_sent();
  ASSERT_EQ(d.deliver("config.pam.auth_event.login", "bob"), 0);
  EXPECT_TRUE(d.take_sent().empty());
  EXPECT_EQ(describe_trigger_of(d.check(0)).first, "AUTH ERROR: root");

  d.clock.advance(3601);  // the trigger action goes; the rule is Normal again
  d.tick();
  ASSERT_EQ(d.check(0).state, kArNormal);
  ASSERT_EQ(d.deliver("config.pam.auth_event.login", "bob"), 0);
  EXPECT_EQ(describe_trigger_of(d.check(0)).first, "LOGIN: bob");
}

TEST(LoginCheck, HasNoDeviceAndNoValueBeforeAnEvent) {
  for (const char* type : {"webui_login", "cli_login"}) {
    SCOPED_TRACE(type);
    TestDaemon d;
    load_login(d, type, true, false, false);
    const Described dev = describe_device_of(d.check(0));
    EXPECT_EQ(dev.result, 0);
    EXPECT_FALSE(dev.first || dev.second || dev.third);
    EXPECT_EQ(describe_trigger_of(d.check(0)).result, -1);
  }
}

}  // namespace
