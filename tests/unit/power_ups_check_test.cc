// The power and UPS state checks: subscriptions, boundaries, devices, and
// configuration problems that must not end the daemon.
#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kRule1 = probe_rule_path(1);
const std::string kUps = "config.ups.ups1";
const std::string kLoad = kUps + ".status.output.load";
const std::string kStatus = kUps + ".event.status";

void add_power(ConfigBuilder& c, int n, const std::string& property, const std::string& ref = kUps,
               const std::string& trigger = "80", const std::string& hyst = "5") {
  probe_rule(c, n, "power");
  const std::string p = probe_rule_path(n) + ".power.";
  c.set(p + "check_type", property).set(p + "dev_ref", ref).set(p + "trigger_val", trigger).set(p + "hysteresis", hyst);
}

void add_ups_state(ConfigBuilder& c, int n, const std::string& condition, const std::string& ref = kUps) {
  probe_rule(c, n, "ups_status");
  c.set(probe_rule_path(n) + ".ups.state.trigger_cond", condition).set(probe_rule_path(n) + ".ups.state.dev_ref", ref);
}

using PowerUpsCheck = CheckTest;

TEST_F(PowerUpsCheck, PowerThresholdsOfBothKindsAndTheirDevices) {
  add_power(c, 1, "output.load");
  add_power(c, 2, "battery.charge", "config.powersupplies.psu1", "20", "10");
  c.set(probe_rule_path(2) + ".power.comparison", "lesser");
  c.set(kUps + ".name", "Rack UPS").set("config.powersupplies.psu1.name", "PSU A");
  load(2);
  EXPECT_EQ((Strings{kLoad, "config.powersupplies.psu1.status.battery.charge"}), subs);
  EXPECT_EQ("0|Rack UPS|UPS|" + kUps, device_of(d.check(0)));
  EXPECT_EQ("0|Power Supply|Sensor enabled internal power supply|config.powersupplies.psu1", device_of(d.check(1)));
  walk({1}, kLoad, {{"80", '-'}, {"81", 'T'}, {"76", 'r'}});
  EXPECT_EQ("0|76|output.load|80", trigger_of(d.check(0)));
  walk({1}, kLoad, {{"75", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 81.000000 vs trigger 80.000000"));
  walk({2}, subs[1], {{"20", '-'}, {"19", 'T'}, {"29", 'r'}, {"30", 'N'}});
}

TEST_F(PowerUpsCheck, PowerShortNamesSubscribeWithTheLongName) {
  const std::pair<std::string, std::string> names[] = {{"voltage", "input.voltage"}, {"charge", "battery.charge"},
      {"load", "output.load"}, {"frequency", "input.frequency"}, {"current", "output.current"}, {"temp", "temp"}};
  for (int n = 1; n <= 6; ++n) add_power(c, n, names[n - 1].first, kUps, "10", "1");
  load(6);
  for (int n = 1; n <= 6; ++n) {
    const std::string key = kUps + ".status." + names[n - 1].second;
    EXPECT_EQ(key, subs[n - 1]);
    walk({n}, key, {{"11", 'T'}});
    EXPECT_EQ("0|11|" + names[n - 1].first + "|10", trigger_of(d.check(n - 1)));
  }
}

TEST_F(PowerUpsCheck, PowerConfigurationProblemsDiscardTheUpdateAndOtherRulesGoOn) {
  add_power(c, 1, "output.load");
  add_power(c, 2, "humid", "config.elsewhere.thing");  // creation only tests for emptiness
  add_power(c, 3, "temp", kUps, "10", "1");
  add_power(c, 4, "", kUps);
  add_power(c, 5, "output.load", "");
  load(5);
  ASSERT_EQ(3u, d.ctx.checks.size());
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid power property for AR: rule4"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid power property for AR: rule5"));
  walk({2}, "config.elsewhere.thing.status.humid", {{"50", '-'}});
  EXPECT_EQ("-1|-|-|-", device_of(d.check(1)));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid check type: humid for " + probe_rule_path(2)));
  const ConfigBuilder good = c;
  const std::pair<std::string, std::string> removed[] = {{"hysteresis", "Could not find hysteresis value for "},
                                                         {"trigger_val", "Could not find trigger value for "},
                                                         {"check_type", "Invalid check type:  for "}};
  for (const auto& [setting, message] : removed) {
    set(kRule1 + ".power." + setting, "");
    walk({1}, kLoad, {{"90", '-'}});
    EXPECT_TRUE(logged_at(d, kLogFatal, message + kRule1)) << setting;
    c = good;
  }
  d.write_config(c);
  walk({3}, kUps + ".status.temp", {{"50", 'T'}});
  walk({1}, kLoad, {{"90", 'T'}});
}

TEST_F(PowerUpsCheck, UpsStateTriggersOnItsConditionAndResolvesOnlyOnOnline) {
  add_ups_state(c, 1, "onbatt");
  add_ups_state(c, 2, "online", "config.ups.ups2");
  add_ups_state(c, 3, "onbatt", "");  // would hear every UPS
  c.set(kUps + ".name", "Rack UPS");
  load(3);
  EXPECT_EQ((Strings{kStatus, "config.ups.ups2.event.status"}), subs);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid UPS state property for AR: rule3"));
  walk({1}, kStatus, {{"online", '-'}, {"ONBATT", '-'}, {"onbatt", 'T'}, {"onbatt", 'r'}, {"lowbatt", 'r'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val onbatt vs trigger onbatt"));
  EXPECT_EQ("0|lowbatt|N/A|onbatt", trigger_of(d.check(0)));
  walk({1}, kStatus, {{"online", 'N'}});
  // Waiting for "online", the rule triggers on it and never resolves.
  walk({2}, subs[1], {{"onbatt", '-'}, {"online", 'T'}, {"online", 'r'}, {"onbatt", 'r'}});
  EXPECT_EQ("0|Rack UPS|UPS|" + kUps, device_of(d.check(0)));
  EXPECT_EQ("0|UPS|UPS|config.ups.ups2", device_of(d.check(1)));
}

}  // namespace
