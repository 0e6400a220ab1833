// Web UI and CLI login event checks: which key each flag combination
// subscribes to, which updates trigger, and what they describe.
#include <gtest/gtest.h>

#include <string>

#include "support/check_probe.h"

namespace {

// Rule n of type with its three flags, held Triggered.
void add_login(ConfigBuilder& c, int n, const char* type, const char* login, const char* logout, const char* auth) {
  probe_rule(c, n, type);
  probe_hold_triggered(c, n);
  const std::string p = probe_rule_path(n) + "." + type + ".trigger_";
  c.set(p + "login", login).set(p + "logout", logout).set(p + "auth_error", auth);
}

using LoginCheck = CheckTest;

TEST_F(LoginCheck, SubscribesByTheFlagsSet) {
  const struct { const char *type, *login, *logout, *auth_error, *key; } cases[] = {
      {"webui_login", "on", "off", "0", "config.webui.auth_event.login"},
      {"webui_login", "no", "true", "", "config.webui.auth_event.logout"},
      {"webui_login", "off", "off", "1", "config.webui.auth_event.auth_error"},
      {"webui_login", "1", "on", "off", "config.webui.auth_event"},
      {"cli_login", "off", "off", "on", "config.pam.auth_event.auth_error"},
      {"cli_login", "off", "on", "true", "config.pam.auth_event"},
      {"cli_login", "off", "0", "no", nullptr},
  };
  Strings keys;
  for (int n = 1; n <= 7; ++n) {
    add_login(c, n, cases[n - 1].type, cases[n - 1].login, cases[n - 1].logout, cases[n - 1].auth_error);
    if (cases[n - 1].key != nullptr) keys.push_back(cases[n - 1].key);
  }
  load(7);
  EXPECT_EQ(keys, subs);
  EXPECT_TRUE(d.logged("No subscription for rule: " + probe_rule_path(7) + " - 1"));
}

TEST_F(LoginCheck, OnlyTheChosenKindsTriggerAndNothingElseUntilNormal) {
  add_login(c, 1, "webui_login", "on", "on", "off");
  add_login(c, 2, "cli_login", "on", "on", "on");
  load(2);
  walk({1}, subs[0] + ".auth_error", {{"mallory", '-'}});
  walk({1}, subs[0] + ".logout", {{"alice", 'T'}});
  EXPECT_EQ("0|LOGOUT: alice|N/A|N/A", trigger_of(d.check(0)));
  walk({2}, subs[1] + ".auth_error", {{"root from 192.0.2.7", 'T'}});
  walk({2}, subs[1] + ".login", {{"bob", '-'}});
  EXPECT_EQ("0|AUTH ERROR: root from 192.0.2.7|N/A|N/A", trigger_of(d.check(1)));
  d.clock.advance(3601);  // the held action goes; the rule is Normal again
  d.tick();
  d.take_sent();
  walk({2}, subs[1] + ".login", {{"bob", 'T'}});
  EXPECT_EQ("0|LOGIN: bob|N/A|N/A", trigger_of(d.check(1)));
}

}  // namespace
