// The power and UPS state checks: subscriptions, boundaries, devices and configuration problems.
#include "support/check_probe.h"

const std::string kUps = "config.ups.ups1", kLoad = kUps + ".status.output.load", kPsu = "config.powersupplies.psu1";

static Pushes power(const std::string& property, const std::string& ref = kUps, const char* trigger = "80",
                    const char* hysteresis = "5") {
  return {{"power.check_type", property}, {"power.dev_ref", ref}, {"power.trigger_val", trigger},
          {"power.hysteresis", hysteresis}};
}

using PowerUpsCheck = CheckTest;

TEST_F(PowerUpsCheck, PowerThresholdsShortNamesUpsStatesDevicesAndConfigurationProblems) {
  rule(1, "power", power("output.load"));
  rule(2, "power", then(power("battery.charge", kPsu, "20", "10"), {{"power.comparison", "lesser"}}));
  rule(3, "ups_status", {{"ups.state.trigger_cond", "onbatt"}, {"ups.state.dev_ref", kUps}});
  rule(4, "ups_status", {{"ups.state.trigger_cond", "online"}, {"ups.state.dev_ref", "config.ups.ups2"}});
  c.set(kUps + ".name", "Rack UPS").set(kPsu + ".name", "PSU A");
  Strings keys{kLoad, kPsu + ".status.battery.charge", kUps + ".event.status", "config.ups.ups2.event.status"};
  // Updates carry the long name, so a short one must subscribe with it.
  const std::pair<std::string, std::string> names[] = {{"voltage", "input.voltage"}, {"charge", "battery.charge"},
      {"load", "output.load"}, {"frequency", "input.frequency"}, {"current", "output.current"}, {"temp", "temp"}};
  for (int n = 5; n <= 10; ++n) {
    rule(n, "power", power(names[n - 5].first, "config.ups.ups3", "10", "1"));
    keys.push_back("config.ups.ups3.status." + names[n - 5].second);
  }
  rule(11, "power", power(""));
  rule(12, "power", power("output.load", ""));
  rule(13, "ups_status", {{"ups.state.trigger_cond", "onbatt"}});  // would hear every UPS
  load(13);
  EXPECT_EQ(keys, subs);
  EXPECT_TRUE(fatal("Invalid power property for AR: rule11") && fatal("Invalid power property for AR: rule12"));
  EXPECT_TRUE(fatal("Invalid UPS state property for AR: rule13"));
  EXPECT_EQ((Strings{"0|Power Supply|Sensor enabled internal power supply|" + kPsu, "0|Rack UPS|UPS|" + kUps,
                     "0|UPS|UPS|config.ups.ups2"}), (Strings{device_of(1), device_of(2), device_of(3)}));
  walk({1}, kLoad, {{"80", '-'}, {"81", 'T'}, {"76", 'r'}});
  EXPECT_EQ("0|76|output.load|80", trigger_of(0));
  walk({1}, kLoad, {{"75", 'N'}});
  walk({2}, subs[1], {{"20", '-'}, {"19", 'T'}, {"29", 'r'}, {"30", 'N'}});
  walk({3}, subs[2], {{"online", '-'}, {"ONBATT", '-'}, {"onbatt", 'T'}, {"onbatt", 'r'}, {"lowbatt", 'r'}});
  EXPECT_EQ("0|lowbatt|N/A|onbatt", trigger_of(2));
  walk({3}, subs[2], {{"online", 'N'}});
  walk({4}, subs[3], {{"onbatt", '-'}, {"online", 'T'}, {"online", 'r'}, {"onbatt", 'r'}});  // never resolves
  for (int n = 5; n <= 10; ++n) {
    walk({n}, subs[n - 1], {{"11", 'T'}});
    EXPECT_EQ("0|11|" + names[n - 5].first + "|10", trigger_of(n - 1));
  }
  set(probe_rule_path(1) + ".power.check_type", "");  // a setting gone discards the update
  walk({1}, kLoad, {{"90", '-'}});
  EXPECT_TRUE(fatal("Invalid check type:  for " + probe_rule_path(1)));
}
