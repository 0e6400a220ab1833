// What an administrator sees of the daemon at work: one noisy rule does not hold back another's actions.
#include <gtest/gtest.h>

#include "support/e2e.h"

namespace {

using namespace e2e;

// 120 failed logins in a burst, each alerting through a script that runs until the test lets it end, one at a
// time: 101 fill the queue and 19 are refused. Then a UPS battery at 15 %: the newest waiting login alert gives
// way to its e-mail, which starts as soon as the slot is free, before any login alert still waiting.
TEST(OperatorE2e, ALoginBurstDoesNotHoldBackAPowerAction) {
  Sandbox box;
  const std::string order = box.path("/order"), release = box.path("/release");
  write_file(box.path("/etc/scripts/cli-user-alert"),
             "#!/bin/sh\necho login >> '" + order + "'\nwhile [ ! -e '" + release + "' ]; do sleep 0.05; done\n", 0755);
  write_file(box.path("/etc/scripts/alert-email"), "#!/bin/sh\necho mail >> '" + order + "'\n", 0755);
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2).set("config.autoresponse.concurrent_actions", 1);
  add_rule(c, 1, "logins", "cli_login",
           "cli_login.trigger_auth_error=on;trigger_actions.total=1;trigger_actions.action1.name=alert the NMS;"
           "trigger_actions.action1.action_type=snmp");
  add_rule(c, 2, "ups", "power",
           "power.check_type=battery.charge;power.dev_ref=config.ups.ups1;power.trigger_val=20;power.hysteresis=10;"
           "power.comparison=lesser;trigger_actions.total=1;trigger_actions.action1.name=mail facilities;"
           "trigger_actions.action1.action_type=email;trigger_actions.action1.email.to_addr=f@example.com");
  ASSERT_TRUE(box.start(c, state_line(2, "Normal")));
  for (int i = 0; i < 120; ++i) ASSERT_TRUE(box.push("config.pam.auth_event.auth_error", "root:sshd:x:192.0.2.9"));
  ASSERT_TRUE(box.push("config.ups.ups1.status.battery.charge", "15"));
  ASSERT_TRUE(box.infod.logged(log_line("Dropped action: alert the NMS for AR: logins - queue full"), 60000));
  write_file(release, "");
  ASSERT_TRUE(box.infod.logged(log_line("Finished action: mail facilities with status 0 for AR: ups"), 20000));
  EXPECT_EQ(0u, read_file(order).rfind("login\nmail\n", 0)) << read_file(order);
  const std::string log = read_file(box.infod.log);
  EXPECT_EQ(19, count(log, "Action alert the NMS for AR logins, queuing failed"));
  EXPECT_EQ(1, count(log, "Dropped action:"));
  EXPECT_EQ(0, count(log, "for AR ups, queuing failed"));
}

}  // namespace
