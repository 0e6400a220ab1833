// The alarm input and custom script checks: decisions per state with their
// exact pushes and log lines, on-change alarms, rejection at creation and
// the alarm's device description.
#include <gtest/gtest.h>

#include <string>

#include "config/autoresponse.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kDevice = "config.devices.device1";

void add_alarm(ConfigBuilder& c, int n, const std::string& pin, const char* trigger, const char* change = "off") {
  probe_rule(c, n, "alarm");
  const std::string p = probe_rule_path(n) + ".alarm.";
  c.set(p + "dev_ref", kDevice).set(p + "pin", pin).set(p + "trigger_value", trigger);
  c.set(p + "trigger_on_change", change);
}

using AlarmCustomCheck = CheckTest;

TEST_F(AlarmCustomCheck, AlarmTriggersOnItsValueAndResolvesWhenTheInputLeavesIt) {
  add_alarm(c, 1, "in1", "1");
  add_alarm(c, 2, "in2", "0");
  add_alarm(c, 3, "", "1");
  add_alarm(c, 4, "in4", "1");
  c.set(probe_rule_path(4) + ".alarm.dev_ref", "");
  c.set(kDevice + ".name", "Rack PDU").set(kDevice + ".alarms.in1.label", "Front door");
  load(4);
  EXPECT_EQ((Strings{kDevice + ".in1", kDevice + ".in2"}), subs);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid Alarm for AR: rule3"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid Alarm for AR: rule4"));
  walk({1}, kDevice + ".in10", {{"1", '-'}});  // input 10 is not input 1
  walk({1}, kDevice + ".in1", {{"0", '-'}, {"1", 'T'}, {"1", 'r'}, {"0", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val 1 vs trigger 1"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + probe_rule_path(1) + " resolving. val 0 vs 1"));
  walk({2}, kDevice + ".in2", {{"open", 'T'}});  // a text reads as 0
  EXPECT_EQ("0|Rack PDU|Front door|" + kDevice, device_of(d.check(0)));
}

TEST_F(AlarmCustomCheck, AlarmOnChangeTriggersAgainOnEveryUpdateAndHasNoResolveList) {
  add_alarm(c, 1, "in1", "1", "on");
  probe_hold_triggered(c, 1);
  c.set(probe_rule_path(1) + ".resolve_actions.total", 1)
      .set(probe_rule_path(1) + ".resolve_actions.action1.name", "undo")
      .set(probe_rule_path(1) + ".resolve_actions.action1.action_type", "custom");
  load(1);
  EXPECT_FALSE(d.ctx.autoresponses.front().has_resolve);
  EXPECT_TRUE(d.check(0).resolve_actions.empty());
  walk({1}, kDevice + ".in1", {{"0", 'T'}});
  d.clock.advance(20);
  walk({1}, kDevice + ".in1", {{"1", 'T'}, {"0", 'T'}});
  EXPECT_EQ(d.clock.monotonic, d.check(0).state_time);  // the Triggered time starts anew
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val 0 vs trigger 1"));
  EXPECT_EQ("0|0|N/A|N/A", trigger_of(d.check(0)));
}

TEST_F(AlarmCustomCheck, CustomCodesOtherThanTheGoodOneTrigger) {
  for (int n = 1; n <= 10; ++n) probe_rule(c, n, "custom");
  c.set(probe_rule_path(2) + ".custom.trigger_code", "5");
  load(10);
  const std::string status1 = probe_rule_path(1) + ".check.status", status2 = probe_rule_path(2) + ".check.status";
  EXPECT_EQ(status1, subs[0]);
  walk({10}, probe_rule_path(10) + ".check.status", {{"1", 'T'}});  // rule 1 does not take rule 10's results
  walk({1}, status1, {{"0", '-'}, {"error", '-'}, {"2", 'T'}, {"3", 'r'}, {"error", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val 2 vs trigger 0"));
  walk({2}, status2, {{"5", '-'}, {"0", 'T'}, {"5", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(2) + " triggered. val 0 vs trigger 5"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + probe_rule_path(2) + " resolving. val 5 vs 0"));
}

}  // namespace
