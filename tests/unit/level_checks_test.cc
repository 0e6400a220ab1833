// Checks that compare one value with a configured one: alarm inputs, serial signals, script and ping result
// codes, UPS states. Each case is the rule's settings, the reference's state and an update, and the outcome.
#include "support/check_bench.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kDev = "config.devices.device1", kPort1 = "config.ports.port1", kPort2 = "config.ports.port2";

std::string trig(const std::string& v, const std::string& t) {
  return "trigger: AR " + kBenchRule + " triggered. val " + v + " vs trigger " + t;
}
std::string res(const std::string& v, const std::string& t) {
  return "resolve: ar " + kBenchRule + " resolving. val " + v + " vs " + t;
}

TEST(LevelChecks, AlarmInputsTriggerOnTheirValueOrOnEveryChange) {
  CheckBench b;
  const Settings input{{"alarm.dev_ref", kDev}, {"alarm.pin", "in1"}, {"alarm.trigger_value", "1"},
                       {kDev + ".name", "Rack PDU"}, {kDev + ".alarms.in1.label", "Front door"}};
  b.rule("alarm", input);
  const std::string key = kDev + ".in1";
  EXPECT_EQ(key, b.key());
  EXPECT_EQ((Strings{"drop", trig("1", "1"), "refresh", res("0", "1")}), b.walk(key, {"0", "1", "1", "open"}));
  EXPECT_EQ("drop", b.on(kArNormal, kDev + ".in2", "1"));  // the key must name the pin
  EXPECT_EQ("0|Rack PDU|Front door|" + kDev, b.device());
  EXPECT_EQ("0|1|N/A|1", b.trigger(key, "1"));
  Settings on_change = input;
  on_change.emplace_back("alarm.trigger_on_change", "on");
  b.rule("alarm", on_change);
  EXPECT_EQ((Strings{trig("0", "1"), trig("1", "1"), trig("0", "1")}), b.walk(key, {"0", "1", "0"}));
  EXPECT_EQ("0|0|N/A|N/A", b.trigger(key, "0"));
  for (const Settings& broken : {Settings{{"alarm.dev_ref", kDev}}, Settings{{"alarm.pin", "in1"}}}) {
    b.rule("alarm", broken);
    EXPECT_EQ("-", b.key());
  }
  EXPECT_EQ((Strings{"Invalid Alarm for AR: bench", "Invalid Alarm for AR: bench"}), b.errors());
}

TEST(LevelChecks, SerialSignalsOnEachReferencesOwnPort) {
  CheckBench b;
  const Settings refs{{"serial.signal.dev_refs.dev_ref1", kPort1}, {"serial.signal.dev_refs.dev_ref2", kPort2},
                      {kPort2 + ".label", "Router console"}, {"serial.signal.trigger_val", "1"}};
  // Keys keep the signal's case; its number does not depend on it, and an unknown one is 0.
  const struct { const char *signal, *number; } signals[] = {{"dcd", "2"}, {"cts", "1"}, {"Dcd", "2"}, {"DSR", "3"},
                                                             {"ri", "0"}};
  for (const auto& [signal, number] : signals) {
    Settings s = refs;
    s.emplace_back("serial.signal.signal", signal);
    b.rule("serial_signal", s, 2);
    EXPECT_EQ(kPort2 + ".serial.event.signal." + signal, b.key());
    EXPECT_EQ("0|1|" + std::string(number) + "|1", b.trigger(b.key(), "1"));
  }
  EXPECT_EQ("0|Router console|Serial Port|" + kPort2, b.device());
  EXPECT_EQ((Strings{"drop", trig("1", "1"), "refresh", res("0", "1")}), b.walk(b.key(), {"0", "1", "1", "high"}));
  b.rule("serial_signal", {{"serial.signal.dev_refs.dev_ref1", kPort1}, {"serial.signal.signal", "dcd"}});
  EXPECT_EQ("0||Serial Port|" + kPort1, b.device());
  b.rule("serial_signal", {{"serial.signal.signal", "dcd"}, {"serial.signal.trigger_on_change", "on"}});
  EXPECT_EQ((Strings{"-", "-1|-|-|-"}), (Strings{b.key(), b.device()}));
  EXPECT_EQ((Strings{trig("0", "0"), trig("1", "0")}), b.walk("x.signal.dcd", {"0", "1"}));  // every change
  EXPECT_EQ("drop", b.on(kArNormal, "x.signal.cts", "1"));
  EXPECT_EQ("0|1|2|N/A", b.trigger("k", "1"));
  EXPECT_EQ((Strings{"Invalid serial port or signal for AR: bench", "Invalid serial port settings for AR: bench"}),
            b.errors());
}

TEST(LevelChecks, ResultCodesOtherThanTheGoodOneTrigger) {
  CheckBench b;
  b.rule("custom", {{"name", "disk check"}});
  const std::string key = kBenchRule + ".check.status";
  EXPECT_EQ(key, b.key());
  // No good code set: 0. A word reads as 0. The resolve line says "vs 0" whatever the good code is.
  EXPECT_EQ((Strings{"drop", "drop", trig("2", "0"), "refresh", res("0", "0")}),
            b.walk(key, {"0", "error", "2", "3", "error"}));
  EXPECT_EQ((Strings{"0|disk check|Custom Script|" + kBenchRule, "0|3|N/A|"}), (Strings{b.device(), b.trigger(key, "3")}));
  b.rule("custom", {{"custom.trigger_code", "5"}});
  EXPECT_EQ((Strings{"drop", trig("0", "5"), res("5", "0")}), b.walk(key, {"5", "0", "5"}));
  b.rule("net_ping", {{"net.ping.address", "192.0.2.1"}});
  EXPECT_EQ(key, b.key());
  EXPECT_EQ((Strings{"drop", trig("3", "0"), "refresh", res("0", "0"), trig("1", "0"), res("0", "0")}),
            b.walk(key, {"0", "3", "3", "0", "1", "timeout"}));
  EXPECT_EQ((Strings{"0|192.0.2.1|ICMP Ping|" + kBenchRule, "0|3|N/A|0"}), (Strings{b.device(), b.trigger(key, "3")}));
}

TEST(LevelChecks, UpsStatesTriggerOnTheConditionAndResolveOnline) {
  CheckBench b;
  const std::string ups = "config.ups.ups1", key = ups + ".event.status";
  b.rule("ups_status", {{"ups.state.trigger_cond", "onbatt"}, {"ups.state.dev_ref", ups}, {ups + ".name", "Rack UPS"}});
  EXPECT_EQ(key, b.key());
  const std::string hit = "trigger: AR " + kBenchRule + " triggered. val onbatt vs trigger onbatt";
  EXPECT_EQ((Strings{"drop", "drop", hit, "refresh", "refresh", "resolve: ar " + kBenchRule +
                     " resolving. val online vs onbatt"}), b.walk(key, {"online", "ONBATT", "onbatt", "onbatt",
                     "lowbatt", "online"}));
  EXPECT_EQ("drop", b.on(kArNormal, ups + ".status", "onbatt"));  // only "event.status" keys
  EXPECT_EQ((Strings{"0|Rack UPS|UPS|" + ups, "0|lowbatt|N/A|onbatt"}), (Strings{b.device(), b.trigger(key, "lowbatt")}));
  // Waiting for "online" triggers on it, so it never resolves by itself.
  b.rule("ups_status", {{"ups.state.trigger_cond", "online"}, {"ups.state.dev_ref", "config.ups.ups2"}});
  EXPECT_EQ((Strings{"drop", "trigger: AR " + kBenchRule + " triggered. val online vs trigger online", "refresh",
                     "refresh"}), b.walk(key, {"onbatt", "online", "online", "onbatt"}));
  EXPECT_EQ("0|UPS|UPS|config.ups.ups2", b.device());
  b.rule("ups_status", {{"ups.state.trigger_cond", "onbatt"}});  // would hear every UPS
  EXPECT_EQ("-", b.key());
  EXPECT_EQ(Strings{"Invalid UPS state property for AR: bench"}, b.errors());
}

}  // namespace
