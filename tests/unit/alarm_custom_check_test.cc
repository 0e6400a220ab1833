// The alarm input and custom script checks: levels, on-change alarms, result codes, rejections, descriptions.
#include "support/check_probe.h"

const std::string kDevice = "config.devices.device1";

static Pushes alarm(const std::string& ref, const char* pin, const char* trigger, const char* on_change = "off") {
  return {{"alarm.dev_ref", ref}, {"alarm.pin", pin}, {"alarm.trigger_value", trigger},
          {"alarm.trigger_on_change", on_change}};
}

using AlarmCustomCheck = CheckTest;

TEST_F(AlarmCustomCheck, AlarmsTriggerOnTheirValueOrOnEveryChangeAndCustomCodesOtherThanTheGoodOne) {
  rule(1, "alarm", alarm(kDevice, "in1", "1"));
  rule(2, "alarm", alarm(kDevice, "in3", "1", "on"), true);
  rule(3, "custom", {});
  rule(4, "custom", {{"custom.trigger_code", "5"}});
  rule(5, "alarm", alarm(kDevice, "", "1"));
  rule(6, "alarm", alarm("", "in4", "1"));
  c.set(kDevice + ".name", "Rack PDU").set(kDevice + ".alarms.in1.label", "Front door");
  load(6);
  EXPECT_EQ((Strings{kDevice + ".in1", kDevice + ".in3", probe_rule_path(3) + ".check.status",
                     probe_rule_path(4) + ".check.status"}), subs);
  EXPECT_TRUE(fatal("Invalid Alarm for AR: rule5") && fatal("Invalid Alarm for AR: rule6"));
  walk({1}, subs[0], {{"0", '-'}, {"1", 'T'}, {"1", 'r'}, {"open", 'N'}});  // a text reads as 0
  EXPECT_EQ("0|Rack PDU|Front door|" + kDevice, device_of(0));
  walk({2}, subs[1], {{"0", 'T'}});
  d.clock.advance(20);
  walk({2}, subs[1], {{"1", 'T'}, {"0", 'T'}});
  EXPECT_EQ(d.clock.monotonic, d.check(1).state_time);  // the Triggered time starts anew
  EXPECT_EQ("0|0|N/A|N/A", trigger_of(1));
  walk({3}, subs[2], {{"0", '-'}, {"error", '-'}, {"2", 'T'}, {"3", 'r'}, {"error", 'N'}});
  walk({4}, subs[3], {{"5", '-'}, {"0", 'T'}, {"5", 'N'}});
}
