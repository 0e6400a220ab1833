// What an administrator sees of the daemon at work: one noisy rule does not hold back another's actions,
// and a sensor that drops out changes nothing.
#include <gtest/gtest.h>

#include "support/e2e.h"

namespace {

using namespace e2e;

// 120 failed logins in a burst, each alerting through a script that runs 0.3 s in two slots, then a UPS battery
// at 15 %: its e-mail starts while the first logins still run, not after the queue of logins has drained, and
// nothing of the UPS rule is refused.
TEST(OperatorE2e, ALoginBurstDoesNotHoldBackAPowerAction) {
  Sandbox box;
  fake(box, "/etc/scripts/alert-email");
  const std::string started = box.path("/logins");
  write_file(box.path("/etc/scripts/cli-user-alert"), "#!/bin/sh\necho x >> '" + started + "'\nsleep 0.3\n", 0755);
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
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
  // Counted from the trigger, not from the push: a slow daemon (an emulated one) may still be reading logins.
  ASSERT_TRUE(box.infod.logged(state_line(2, "Triggered"), 60000));
  const size_t before = read_file(started).size() / 2;
  ASSERT_TRUE(eventually([&] { return !box.calls("/etc/scripts/alert-email").empty(); }, 20000));
  const size_t after = read_file(started).size() / 2;
  EXPECT_LE(after, before + 2) << "logins started between the UPS trigger and its e-mail";
  const std::string log = read_file(box.infod.log);
  EXPECT_EQ(std::string::npos, log.find("for AR ups, queuing failed"));
  EXPECT_GT(count(log, log_line("Dropped action: alert the NMS for AR: logins - queue full")) +
                count(log, "Action alert the NMS for AR logins, queuing failed"), 0);
}

// "N/A" and other values without a leading number trigger nothing and resolve nothing, and say so once.
TEST(OperatorE2e, ReadingsThatAreNotNumbersChangeNothing) {
  Sandbox box;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_rule(c, 1, "ups", "power",
           "power.check_type=battery.charge;power.dev_ref=config.ups.ups1;power.trigger_val=20;power.hysteresis=10;"
           "power.comparison=lesser");
  ASSERT_TRUE(box.start(c, state_line(1, "Normal")));
  const std::string key = "config.ups.ups1.status.battery.charge";
  for (const char* value : {"N/A", "", "abc", "N/A", "15", "N/A", "35"}) ASSERT_TRUE(box.push(key, value));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Resolving")));
  const std::string log = read_file(box.infod.log);
  EXPECT_EQ(1, count(log, state_line(1, "Triggered")));
  EXPECT_EQ(std::string::npos, log.find("curr_entry.status 2 N/A"));
  EXPECT_TRUE(box.daemon_logged("Reading is not a number for AR ups: N/A"));
  EXPECT_EQ(2, count(read_file(box.path("/daemon.log")), "Reading is not a number for AR ups"));
  expect_clean_end(box);
}

}  // namespace
