// The power and UPS state checks: subscriptions, the trigger and resolve
// boundaries, what is dropped and what refreshes, configuration problems
// that must not end the daemon, and the describing texts.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/archeck.h"
#include "core/check_event.h"
#include "core/log.h"
#include "support/check_probe.h"
#include "support/check_pushes.h"
#include "support/test_daemon.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kRule1 = probe_rule_path(1);
const std::string kUps = "config.ups.ups1";
const std::string kLoad = kUps + ".status.output.load";
const std::string kStatus = kUps + ".event.status";

void add_power(ConfigBuilder& c, int n, const std::string& property, const std::string& trigger = "80",
               const std::string& hysteresis = "5", const std::string& ref = kUps) {
  probe_rule(c, n, "power");
  const std::string p = probe_rule_path(n) + ".power.";
  c.set(p + "check_type", property).set(p + "dev_ref", ref).set(p + "trigger_val", trigger);
  c.set(p + "hysteresis", hysteresis);
}

void add_ups_state(ConfigBuilder& c, int n, const std::string& condition, const std::string& ref = kUps) {
  probe_rule(c, n, "ups_status");
  c.set(probe_rule_path(n) + ".ups.state.trigger_cond", condition).set(probe_rule_path(n) + ".ups.state.dev_ref", ref);
}

class PowerUpsCheck : public ::testing::Test {
 protected:
  void load(ConfigBuilder& c, int rules) {
    c.set("config.autoresponse.total", rules);
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    sent = d.take_sent();
  }
  // The daemon must go on whatever a rule makes of the update.
  void deliver(const std::string& key, const std::string& value) {
    EXPECT_EQ(0, d.deliver(key, value));
    EXPECT_EQ(-1, d.ctx.exit_status);
    sent = d.take_sent();
  }
  Strings subscriptions() const {
    Strings keys;
    for (const SentMessage& m : sent) {
      if (m.type == 2) keys.push_back(m.key);
    }
    return keys;
  }
  TestDaemon d;
  std::vector<SentMessage> sent;
};

TEST_F(PowerUpsCheck, PowerGreaterKindTriggersAboveAndResolvesAtThresholdLessHysteresis) {
  ConfigBuilder c;
  add_power(c, 1, "output.load");
  load(c, 1);
  EXPECT_EQ(Strings{kLoad}, subscriptions());

  deliver(kLoad, "80");
  EXPECT_TRUE(sent.empty());
  deliver(kLoad, "81");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 81.000000 vs trigger 80.000000"));
  deliver(kLoad, "76");
  EXPECT_TRUE(probe_states(sent, 1).empty());
  EXPECT_EQ(Strings{"76"}, probe_values(sent, 1));
  deliver(kLoad, "75");
  EXPECT_EQ((Strings{"Resolving", "Normal"}), probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 75.000000 vs 80.000000"));
}

TEST_F(PowerUpsCheck, PowerLesserKindTriggersBelowAndResolvesAtThresholdPlusHysteresis) {
  const std::string key = kUps + ".status.battery.charge";
  ConfigBuilder c;
  add_power(c, 1, "battery.charge", "20", "10");
  c.set(kRule1 + ".power.comparison", "lesser");
  load(c, 1);
  deliver(key, "20");
  EXPECT_TRUE(sent.empty());
  deliver(key, "19");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  deliver(key, "29");
  EXPECT_EQ(Strings{"29"}, probe_values(sent, 1));
  EXPECT_TRUE(probe_states(sent, 1).empty());
  deliver(key, "30");
  EXPECT_EQ((Strings{"Resolving", "Normal"}), probe_states(sent, 1));
}

TEST_F(PowerUpsCheck, PowerShortNamesSubscribeWithTheLongNameAndStillDescribeAsConfigured) {
  const std::pair<std::string, std::string> names[] = {
      {"voltage", "input.voltage"},     {"charge", "battery.charge"}, {"load", "output.load"},
      {"frequency", "input.frequency"}, {"current", "output.current"}, {"temp", "temp"},
  };
  ConfigBuilder c;
  int n = 0;
  for (const auto& [configured, long_name] : names) add_power(c, ++n, configured, "10", "1");
  load(c, n);
  ASSERT_EQ(6u, d.ctx.checks.size());
  n = 0;
  for (const auto& [configured, long_name] : names) {
    SCOPED_TRACE(configured);
    const std::string key = kUps + ".status." + long_name;
    EXPECT_EQ(key, d.check(static_cast<size_t>(n++)).subscription);
    deliver(key, "11");
    EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, n));
    EXPECT_EQ(configured, describe_trigger_of(d.check(static_cast<size_t>(n - 1))).second);
  }
}

TEST_F(PowerUpsCheck, PowerDropsAKeyWithoutItsPropertyText) {
  ConfigBuilder c;
  add_power(c, 1, "output.load");
  load(c, 1);
  EXPECT_EQ(0, check_append_event(&d.check(0), (kUps + ".status.input.voltage").c_str(), 0, 0, "99"));
  EXPECT_EQ(kArNormal, d.check(0).state);
}

TEST_F(PowerUpsCheck, PowerConfigurationProblemsDiscardTheUpdateAndEveryOtherRuleGoesOn) {
  ConfigBuilder c;
  add_power(c, 1, "output.load");
  add_power(c, 2, "humid");
  add_power(c, 3, "temp", "10", "1");
  load(c, 3);
  // An unknown name passes creation, which only tests for emptiness.
  ASSERT_EQ(3u, d.ctx.checks.size());
  deliver(kUps + ".status.humid", "50");
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid check type: humid for " + probe_rule_path(2)));
  EXPECT_TRUE(sent.empty());

  const std::pair<std::string, std::string> removed[] = {
      {"hysteresis", "Could not find hysteresis value for " + kRule1},
      {"trigger_val", "Could not find trigger value for " + kRule1},
      {"check_type", "Invalid check type:  for " + kRule1},
  };
  for (const auto& [setting, message] : removed) {
    SCOPED_TRACE(setting);
    ConfigBuilder edited = c;
    edited.set(kRule1 + ".power." + setting, "");
    d.write_config(edited);
    deliver(kLoad, "90");
    EXPECT_TRUE(logged_at(d, kLogFatal, message));
    EXPECT_TRUE(sent.empty());
  }
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid check type: " + kRule1 + ".power.check_type"));

  d.write_config(c);
  deliver(kUps + ".status.temp", "50");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 3));
  deliver(kLoad, "90");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
}

TEST_F(PowerUpsCheck, PowerRejectsARuleWithoutPropertyOrReference) {
  ConfigBuilder c;
  add_power(c, 1, "");
  add_power(c, 2, "output.load", "80", "5", "");
  load(c, 2);
  EXPECT_TRUE(d.ctx.checks.empty());
  EXPECT_TRUE(subscriptions().empty());
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid power property for AR: rule1"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid power property for AR: rule2"));
}

TEST_F(PowerUpsCheck, PowerDescribesUpsAndPowerSupplyDevices) {
  ConfigBuilder c;
  add_power(c, 1, "temp");
  add_power(c, 2, "temp", "80", "5", "config.ups.ups2");
  add_power(c, 3, "temp", "80", "5", "config.powersupplies.psu1");
  add_power(c, 4, "temp", "80", "5", "config.elsewhere.thing");
  c.set(kUps + ".name", "Rack UPS").set("config.powersupplies.psu1.name", "PSU A");
  load(c, 4);
  ASSERT_EQ(4u, d.ctx.checks.size());

  Described dev = describe_device_of(d.check(0));
  EXPECT_EQ(0, dev.result);
  EXPECT_EQ("Rack UPS", dev.first);
  EXPECT_EQ("UPS", dev.second);
  EXPECT_EQ(kUps, dev.third);
  EXPECT_EQ("UPS", describe_device_of(d.check(1)).first);
  dev = describe_device_of(d.check(2));
  EXPECT_EQ("Power Supply", dev.first);
  EXPECT_EQ("Sensor enabled internal power supply", dev.second);
  EXPECT_EQ("config.powersupplies.psu1", dev.third);
  dev = describe_device_of(d.check(3));
  EXPECT_EQ(-1, dev.result);
  EXPECT_FALSE(dev.first || dev.second || dev.third);

  c.set(kRule1 + ".power.dev_ref", "");
  d.write_config(c);
  EXPECT_EQ(-1, describe_device_of(d.check(0)).result);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Could not get ref from ar " + kRule1));
}

TEST_F(PowerUpsCheck, PowerDescribesTheTriggerOnlyOnceThereIsAValue) {
  ConfigBuilder c;
  add_power(c, 1, "output.load");
  load(c, 1);
  EXPECT_EQ(-1, describe_trigger_of(d.check(0)).result);
  deliver(kLoad, "81.5");
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("81.5", t.first);
  EXPECT_EQ("output.load", t.second);
  EXPECT_EQ("80", t.third);
}

TEST_F(PowerUpsCheck, UpsStateTriggersOnItsConditionAndResolvesOnlyOnOnline) {
  ConfigBuilder c;
  add_ups_state(c, 1, "onbatt");
  load(c, 1);
  EXPECT_EQ(Strings{kStatus}, subscriptions());

  for (const char* other : {"online", "lowbatt", "ONBATT"}) {
    deliver(kStatus, other);
    EXPECT_TRUE(sent.empty()) << other;
  }
  deliver(kStatus, "onbatt");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val onbatt vs trigger onbatt"));
  for (const char* refreshing : {"onbatt", "lowbatt"}) {
    deliver(kStatus, refreshing);
    EXPECT_EQ(Strings{refreshing}, probe_values(sent, 1));
    EXPECT_TRUE(probe_states(sent, 1).empty());
  }
  deliver(kStatus, "online");
  EXPECT_EQ((Strings{"Resolving", "Normal"}), probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val online vs onbatt"));
}

TEST_F(PowerUpsCheck, UpsStateWaitingForOnlineNeverResolvesByItself) {
  ConfigBuilder c;
  add_ups_state(c, 1, "online");
  load(c, 1);
  deliver(kStatus, "onbatt");
  EXPECT_TRUE(sent.empty());
  deliver(kStatus, "online");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  deliver(kStatus, "online");
  deliver(kStatus, "onbatt");
  EXPECT_EQ(Strings{"onbatt"}, probe_values(sent, 1));
  EXPECT_EQ(kArTriggered, d.check(0).state);
}

TEST_F(PowerUpsCheck, UpsStateNeedsEventStatusInTheKeyAndAnEmptyConditionAnEmptyStatus) {
  ConfigBuilder c;
  add_ups_state(c, 1, "");
  load(c, 1);
  EXPECT_EQ(0, check_append_event(&d.check(0), (kUps + ".status").c_str(), 0, 0, ""));
  deliver(kStatus, "onbatt");
  EXPECT_EQ(kArNormal, d.check(0).state);
  EXPECT_EQ(0, check_append_event(&d.check(0), kStatus.c_str(), 0, 0, ""));
  EXPECT_EQ(kArTriggered, d.check(0).state);
}

TEST_F(PowerUpsCheck, UpsStateRejectsAnEmptyReferenceInsteadOfListeningToEveryUps) {
  ConfigBuilder c;
  add_ups_state(c, 1, "onbatt", "");
  add_ups_state(c, 2, "onbatt");
  load(c, 2);
  ASSERT_EQ(1u, d.ctx.checks.size());
  EXPECT_EQ(Strings{kStatus}, subscriptions());
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid UPS state property for AR: rule1"));
  deliver("config.ups.ups9.event.status", "onbatt");
  EXPECT_TRUE(sent.empty());
}

TEST_F(PowerUpsCheck, UpsStateDescribesItsDeviceAndTrigger) {
  ConfigBuilder c;
  add_ups_state(c, 1, "onbatt");
  add_ups_state(c, 2, "lowbatt", "config.ups.ups2");
  c.set(kUps + ".name", "Rack UPS").set("config.ups.ups2.name", "");
  load(c, 2);
  Described dev = describe_device_of(d.check(0));
  EXPECT_EQ(0, dev.result);
  EXPECT_EQ("Rack UPS", dev.first);
  EXPECT_EQ("UPS", dev.second);
  EXPECT_EQ(kUps, dev.third);
  EXPECT_EQ("UPS", describe_device_of(d.check(1)).first);

  EXPECT_EQ(-1, describe_trigger_of(d.check(0)).result);
  deliver(kStatus, "onbatt");
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("onbatt", t.first);
  EXPECT_EQ("N/A", t.second);
  EXPECT_EQ("onbatt", t.third);
}

}  // namespace
