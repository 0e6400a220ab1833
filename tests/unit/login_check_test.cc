// Web UI and CLI login event checks: the key each flag combination subscribes to, what triggers, descriptions.
#include "support/check_probe.h"

using LoginCheck = CheckTest;

TEST_F(LoginCheck, SubscribesByTheFlagsSetAndTriggersOnlyOnTheChosenKinds) {
  const char *web = "webui_login", *cli = "cli_login";
  const struct { const char *type, *login, *logout, *auth_error; } rules[] = {
      {web, "on", "on", "off"}, {cli, "on", "on", "on"}, {web, "on", "off", "0"}, {web, "no", "true", ""},
      {web, "off", "off", "1"}, {cli, "off", "off", "on"}, {cli, "off", "on", "true"}, {cli, "off", "0", "no"}};
  for (int n = 1; n <= 8; ++n) {
    const auto& [type, login, logout, auth_error] = rules[n - 1];
    const std::string p = std::string(type) + ".trigger_";
    rule(n, type, {{p + "login", login}, {p + "logout", logout}, {p + "auth_error", auth_error}}, n != 2);
  }
  load(8);
  const std::string w = "config.webui.auth_event", pam = "config.pam.auth_event";
  EXPECT_EQ((Strings{w, pam, w + ".login", w + ".logout", w + ".auth_error", pam + ".auth_error", pam}), subs);
  EXPECT_TRUE(d.logged("No subscription for rule: " + probe_rule_path(8) + " - 1"));
  // Rule 2 goes back to Normal at once; the others take nothing more while Triggered.
  takes(w + ".auth_error", "mallory", {{5, 'T'}});
  takes(w + ".login", "bob", {{1, 'T'}, {3, 'T'}});
  takes(w + ".logout", "alice", {{4, 'T'}});
  takes(pam + ".auth_error", "root from 192.0.2.7", {{2, 'C'}, {6, 'T'}, {7, 'T'}});
  takes(pam + ".login", "eve", {{2, 'C'}});
  EXPECT_EQ("0|LOGIN: bob|N/A|N/A", trigger_of(0));
  EXPECT_EQ("0|LOGOUT: alice|N/A|N/A", trigger_of(3));
  EXPECT_EQ("0|AUTH ERROR: root from 192.0.2.7|N/A|N/A", trigger_of(5));
}

