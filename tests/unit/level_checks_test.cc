// Checks that compare one value with a configured one: alarms, serial signals, result codes, UPS states.
#include "support/check_bench.h"

namespace {

const std::string kDev = "config.devices.device1", kPort1 = "config.ports.port1", kPort2 = "config.ports.port2";

TEST(LevelChecks, AlarmInputsTriggerOnTheirValueOrOnEveryChange) {
  CheckBench b;
  Settings input{{"alarm.dev_ref", kDev}, {"alarm.pin", "in1"}, {"alarm.trigger_value", "1"},
                 {kDev + ".name", "Rack PDU"}, {kDev + ".alarms.in1.label", "Front door"}};
  const std::string key = kDev + ".in1";
  EXPECT_EQ(key, b.rule("alarm", input).key());
  EXPECT_EQ((Strings{"-", "T 1 vs trigger 1", "=", "r 0 vs 1"}), b.walk(key, {"0", "1", "1", "open"}));
  EXPECT_EQ("-", b.on(kArNormal, kDev + ".in2", "1"));  // the key must name the pin
  EXPECT_EQ((Strings{"0|Rack PDU|Front door|" + kDev, "0|1|N/A|1"}), (Strings{b.device(), b.trigger(key, "1")}));
  input.emplace_back("alarm.trigger_on_change", "on");  // every update triggers, a Triggered reference again
  EXPECT_EQ((Strings{"T 0 vs trigger 1", "T 1 vs trigger 1", "T 0 vs trigger 1"}),
            b.rule("alarm", input).walk(key, {"0", "1", "0"}));
  EXPECT_EQ("0|0|N/A|N/A", b.trigger(key, "0"));
  for (const Settings& broken : {Settings{{"alarm.dev_ref", kDev}}, Settings{{"alarm.pin", "in1"}}}) {
    EXPECT_EQ("-", b.rule("alarm", broken).key());
  }
  EXPECT_EQ((Strings{"Invalid Alarm for AR: bench", "Invalid Alarm for AR: bench"}), b.errors());
}

TEST(LevelChecks, SerialSignalsOnEachReferencesOwnPort) {
  CheckBench b;
  // Keys keep the signal's case; its number does not depend on it, and an unknown one is 0.
  for (const auto& [signal, number] : {std::pair{"dcd", "2"}, {"cts", "1"}, {"Dcd", "2"}, {"DSR", "3"}, {"ri", "0"}}) {
    b.rule("serial_signal", {{"serial.signal.dev_refs.dev_ref1", kPort1}, {"serial.signal.dev_refs.dev_ref2", kPort2},
                             {kPort2 + ".label", "Router"}, {"serial.signal.trigger_val", "1"},
                             {"serial.signal.signal", signal}}, 2);
    EXPECT_EQ((Strings{kPort2 + ".serial.event.signal." + signal, "0|1|" + std::string(number) + "|1"}),
              (Strings{b.key(), b.trigger("k", "1")}));
  }
  EXPECT_EQ("0|Router|Serial Port|" + kPort2, b.device());
  EXPECT_EQ((Strings{"-", "T 1 vs trigger 1", "=", "r 0 vs 1"}), b.walk(b.key(), {"0", "1", "1", "high"}));
  b.rule("serial_signal", {{"serial.signal.dev_refs.dev_ref1", kPort1}, {"serial.signal.signal", "dcd"}});
  EXPECT_EQ("0||Serial Port|" + kPort1, b.device());
  b.rule("serial_signal", {{"serial.signal.signal", "dcd"}, {"serial.signal.trigger_on_change", "on"}});
  EXPECT_EQ((Strings{"-", "-1|-|-|-", "0|1|2|N/A"}), (Strings{b.key(), b.device(), b.trigger("k", "1")}));
  const std::string dcd = "x.signal.dcd";
  EXPECT_EQ((Strings{"T 0 vs trigger 0", "T 1 vs trigger 0", "-"}),
            (Strings{b.on(kArNormal, dcd, "0"), b.on(kArTriggered, dcd, "1"), b.on(kArNormal, "x.cts", "1")}));
  EXPECT_EQ((Strings{"Invalid serial port or signal for AR: bench", "Invalid serial port settings for AR: bench"}),
            b.errors());
}

// The resolve line says "vs 0" whatever the good code is; a word reads as 0.
TEST(LevelChecks, ResultCodesOtherThanTheGoodOneTrigger) {
  CheckBench b;
  const std::string key = kBenchRule + ".check.status";
  EXPECT_EQ(key, b.rule("custom", {{"name", "disk check"}}).key());
  EXPECT_EQ((Strings{"-", "-", "T 2 vs trigger 0", "=", "r 0 vs 0"}), b.walk(key, {"0", "error", "2", "3", "error"}));
  EXPECT_EQ((Strings{"0|disk check|Custom Script|" + kBenchRule, "0|3|N/A|"}),
            (Strings{b.device(), b.trigger(key, "3")}));
  b.rule("custom", {{"custom.trigger_code", "5"}});
  EXPECT_EQ((Strings{"-", "T 0 vs trigger 5", "r 5 vs 0"}), b.walk(key, {"5", "0", "5"}));
  EXPECT_EQ(key, b.rule("net_ping", {{"net.ping.address", "192.0.2.1"}}).key());
  EXPECT_EQ((Strings{"-", "T 3 vs trigger 0", "=", "r 0 vs 0", "T 1 vs trigger 0", "r 0 vs 0"}),
            b.walk(key, {"0", "3", "3", "0", "1", "timeout"}));
  EXPECT_EQ((Strings{"0|192.0.2.1|ICMP Ping|" + kBenchRule, "0|3|N/A|0"}),
            (Strings{b.device(), b.trigger(key, "3")}));
}

// Waiting for "online" triggers on it, so such a rule never resolves by itself.
TEST(LevelChecks, UpsStatesTriggerOnTheConditionAndResolveOnline) {
  CheckBench b;
  const std::string ups = "config.ups.ups1", key = ups + ".event.status";
  b.rule("ups_status", {{"ups.state.trigger_cond", "onbatt"}, {"ups.state.dev_ref", ups}, {ups + ".name", "Rack UPS"}});
  EXPECT_EQ(key, b.key());
  EXPECT_EQ((Strings{"-", "-", "T onbatt vs trigger onbatt", "=", "=", "r online vs onbatt"}),
            b.walk(key, {"online", "ONBATT", "onbatt", "onbatt", "lowbatt", "online"}));
  EXPECT_EQ("-", b.on(kArNormal, ups + ".status", "onbatt"));  // only "event.status" keys
  EXPECT_EQ((Strings{"0|Rack UPS|UPS|" + ups, "0|lowbatt|N/A|onbatt"}),
            (Strings{b.device(), b.trigger(key, "lowbatt")}));
  b.rule("ups_status", {{"ups.state.trigger_cond", "online"}, {"ups.state.dev_ref", "config.ups.ups2"}});
  EXPECT_EQ((Strings{"-", "T online vs trigger online", "=", "="}),
            b.walk(key, {"onbatt", "online", "online", "onbatt"}));
  EXPECT_EQ("0|UPS|UPS|config.ups.ups2", b.device());
  EXPECT_EQ("-", b.rule("ups_status", {{"ups.state.trigger_cond", "onbatt"}}).key());  // would hear every UPS
  EXPECT_EQ(Strings{"Invalid UPS state property for AR: bench"}, b.errors());
}

}  // namespace
