// The alarm input and custom script checks: their decisions per state, the
// exact publications and log lines, and their describing texts.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "support/check_pushes.h"
#include "support/test_daemon.h"

namespace {

const std::string kRule1 = "config.autoresponse.autoresponse1";
const std::string kRule2 = "config.autoresponse.autoresponse2";
const std::string kDevice = "config.devices.device1";
const std::string kInput1 = kDevice + ".1";

// An alarm rule n on input pin of kDevice.
void add_alarm(ConfigBuilder& c, int n, const std::string& name, const std::string& pin,
               const std::string& trigger_value, bool on_change = false) {
  const std::string p = "config.autoresponse.autoresponse" + std::to_string(n);
  c.set(p + ".name", name)
      .set(p + ".check_type", "alarm")
      .set(p + ".alarm.dev_ref", kDevice)
      .set(p + ".alarm.pin", pin)
      .set(p + ".alarm.trigger_value", trigger_value)
      .set(p + ".alarm.trigger_on_change", on_change ? "on" : "off");
}

void add_custom(ConfigBuilder& c, int n, const std::string& name) {
  const std::string p = "config.autoresponse.autoresponse" + std::to_string(n);
  c.set(p + ".name", name).set(p + ".check_type", "custom");
}

// A trigger action that waits, so a reference stays Triggered.
void add_delayed_trigger_action(ConfigBuilder& c, int n) {
  const std::string p = "config.autoresponse.autoresponse" + std::to_string(n) + ".trigger_actions";
  c.set(p + ".total", 1).set(p + ".action1.name", "later").set(p + ".action1.action_type", "custom");
  c.set(p + ".action1.delay_time", 600);
}

class AlarmCheck : public ::testing::Test {
 protected:
  void load(const ConfigBuilder& c) {
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    d.take_sent();
  }
  std::vector<Push> deliver(const std::string& key, const std::string& value) {
    EXPECT_EQ(0, d.deliver(key, value));
    return pushes_of(d.take_sent());
  }
  TestDaemon d;
  const RefKeys door{kRule1, "door", 1};
};

TEST_F(AlarmCheck, TriggerValueOneWalksDiscardTriggerRefreshResolve) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_alarm(c, 1, "door", "1", "1");
  load(c);

  EXPECT_TRUE(deliver(kInput1, "0").empty());
  EXPECT_EQ(kArNormal, d.check(0).state);

  EXPECT_EQ(door.change("Triggered", kInput1, "1"), deliver(kInput1, "1"));
  EXPECT_EQ(kArTriggered, d.check(0).state);
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 1 vs trigger 1"));

  d.logs.clear();
  EXPECT_EQ(door.refresh("1"), deliver(kInput1, "1"));
  EXPECT_EQ(kArTriggered, d.check(0).state);
  EXPECT_TRUE(d.logs.empty());

  // No resolve actions and no reset time-out: straight on to Normal.
  EXPECT_EQ(then(door.change("Resolving", kInput1, "0"), door.change("Normal")), deliver(kInput1, "0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 0 vs 1"));
  EXPECT_EQ(kArNormal, d.check(0).state);
}

TEST_F(AlarmCheck, TriggerOnChangeTriggersOnEveryUpdateAndNeverResolves) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_alarm(c, 1, "door", "1", "1", true);
  add_delayed_trigger_action(c, 1);
  // A resolve list in the configuration is not built for such a rule.
  c.set(kRule1 + ".resolve_actions.total", 1)
      .set(kRule1 + ".resolve_actions.action1.name", "undo")
      .set(kRule1 + ".resolve_actions.action1.action_type", "custom");
  load(c);
  ASSERT_EQ(1u, d.ctx.autoresponses.size());
  EXPECT_FALSE(d.ctx.autoresponses.front().has_resolve);
  EXPECT_TRUE(d.ctx.autoresponses.front().resolve_actions.empty());
  EXPECT_TRUE(d.check(0).resolve_actions.empty());

  EXPECT_EQ(door.change("Triggered", kInput1, "0"), deliver(kInput1, "0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 0 vs trigger 1"));

  // Triggered again, not refreshed: the state and its time start anew.
  d.clock.advance(20);
  EXPECT_EQ(door.change("Triggered", kInput1, "1"), deliver(kInput1, "1"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 1 vs trigger 1"));
  EXPECT_EQ(d.clock.monotonic, d.check(0).state_time);

  EXPECT_EQ(door.change("Triggered", kInput1, "0"), deliver(kInput1, "0"));
  EXPECT_EQ(kArTriggered, d.check(0).state);
}

TEST_F(AlarmCheck, InputOneDoesNotTakeUpdatesOfInputTen) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_alarm(c, 1, "door", "1", "1");
  load(c);
  EXPECT_TRUE(deliver(kDevice + ".10", "1").empty());
  EXPECT_EQ(kArNormal, d.check(0).state);
  EXPECT_FALSE(deliver(kInput1, "1").empty());
}

TEST_F(AlarmCheck, NonNumericValueReadsAsZero) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_alarm(c, 1, "door", "1", "0");
  load(c);
  EXPECT_EQ(door.change("Triggered", kInput1, "open"), deliver(kInput1, "open"));
}

TEST_F(AlarmCheck, MissingPinOrDeviceGivesNoArCheck) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_alarm(c, 1, "nopin", "", "1");
  add_alarm(c, 2, "nodev", "1", "1");
  c.set(kRule2 + ".alarm.dev_ref", "");
  load(c);
  EXPECT_TRUE(d.ctx.checks.empty());
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid Alarm for AR: nopin"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid Alarm for AR: nodev"));
}

TEST_F(AlarmCheck, DescribesInputAndTrigger) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  // Configuration element names cannot begin with a digit.
  add_alarm(c, 1, "door", "in1", "1");
  add_alarm(c, 2, "any", "in2", "1", true);
  add_delayed_trigger_action(c, 2);
  c.set(kDevice + ".name", "Rack PDU").set(kDevice + ".alarms.in1.label", "Front door");
  load(c);
  ArCheck& check = d.check(0);

  OptionalText device, label, dev_ref;
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ("Rack PDU", device.value_or("<unset>"));
  EXPECT_EQ("Front door", label.value_or("<unset>"));
  EXPECT_EQ(kDevice, dev_ref.value_or("<unset>"));
  EXPECT_EQ(0, check.ops->describe_device(&check, nullptr, nullptr, nullptr));

  OptionalText value, property, trigger;
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_FALSE(value || property || trigger);

  deliver(kDevice + ".in1", "1");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ("1", value.value_or("<unset>"));
  EXPECT_EQ("N/A", property.value_or("<unset>"));
  EXPECT_EQ("1", trigger.value_or("<unset>"));

  ArCheck& on_change = d.check(1);
  deliver(kDevice + ".in2", "0");
  ASSERT_EQ(0, on_change.ops->describe_trigger(&on_change, &value, &property, &trigger));
  EXPECT_EQ("0", value.value_or("<unset>"));
  EXPECT_EQ("N/A", trigger.value_or("<unset>"));
}

class CustomCheck : public AlarmCheck {
 protected:
  const std::string status1 = kRule1 + ".check.status";
  const RefKeys script{kRule1, "script", 1};
};

TEST_F(CustomCheck, AbsentGoodCodeMeansZero) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_custom(c, 1, "script");
  load(c);
  EXPECT_EQ(status1, d.check(0).subscription);

  EXPECT_TRUE(deliver(status1, "0").empty());
  EXPECT_EQ(script.change("Triggered", status1, "2"), deliver(status1, "2"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 2 vs trigger 0"));
  EXPECT_EQ(script.refresh("3"), deliver(status1, "3"));
  EXPECT_EQ(then(script.change("Resolving", status1, "0"), script.change("Normal")), deliver(status1, "0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 0 vs 0"));
}

TEST_F(CustomCheck, ConfiguredGoodCodeIsNormalAndEveryOtherCodeTriggers) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_custom(c, 1, "script");
  c.set(kRule1 + ".custom.trigger_code", "5");
  load(c);

  EXPECT_TRUE(deliver(status1, "5").empty());
  EXPECT_EQ(script.change("Triggered", status1, "0"), deliver(status1, "0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 0 vs trigger 5"));
  EXPECT_EQ(then(script.change("Resolving", status1, "5"), script.change("Normal")), deliver(status1, "5"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 5 vs 0"));
}

TEST_F(CustomCheck, NonNumericResultEqualsTheDefaultGoodCode) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_custom(c, 1, "script");
  load(c);
  EXPECT_TRUE(deliver(status1, "error").empty());
  deliver(status1, "1");
  EXPECT_EQ(then(script.change("Resolving", status1, "error"), script.change("Normal")),
            deliver(status1, "error"));
}

TEST_F(CustomCheck, RulesOneAndTenTakeOnlyTheirOwnResults) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 10);
  for (int n = 1; n <= 10; ++n) add_custom(c, n, "script" + std::to_string(n));
  load(c);
  ASSERT_EQ(10u, d.ctx.checks.size());
  const std::string status10 = "config.autoresponse.autoresponse10.check.status";
  const RefKeys ten{"config.autoresponse.autoresponse10", "script10", 10};
  EXPECT_EQ(ten.change("Triggered", status10, "1"), deliver(status10, "1"));
  EXPECT_EQ(kArNormal, d.check(0).state);
  const RefKeys one{kRule1, "script1", 1};
  EXPECT_EQ(one.change("Triggered", status1, "1"), deliver(status1, "1"));
}

TEST_F(CustomCheck, DescribesScriptAndTrigger) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  add_custom(c, 1, "script");
  c.set(kRule1 + ".custom.trigger_code", "5");
  load(c);
  ArCheck& check = d.check(0);

  OptionalText device, label, dev_ref;
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ("script", device.value_or("<unset>"));
  EXPECT_EQ("Custom Script", label.value_or("<unset>"));
  EXPECT_EQ(kRule1, dev_ref.value_or("<unset>"));

  OptionalText value, property, trigger;
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_FALSE(value || property || trigger);
  deliver(status1, "7");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ("7", value.value_or("<unset>"));
  EXPECT_EQ("N/A", property.value_or("<unset>"));
  EXPECT_EQ("5", trigger.value_or("<unset>"));
  EXPECT_EQ(0, check.ops->describe_trigger(&check, nullptr, nullptr, nullptr));
}

}  // namespace
