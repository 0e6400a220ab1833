// The threshold checks (environmental and power), and the environmental trigger counter kept in infod.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/log.h"
#include "checks/enviro.h"
#include "daemon/context.h"
#include "engine/engine.h"
#include "link/link.h"
#include "platform/infod_client.h"
#include "support/check_bench.h"
#include "support/e2e.h"

namespace {

int increment_event_count(InfodLink* link, const std::string& key) {
  LinkTriggerCounter counter(link);
  Engine engine;
  engine.counter = &counter;
  std::string counter_key;
  if (enviro_counter_key(key, &counter_key) != 0) return -1;
  return count_trigger(engine, counter_key);
}

const std::string kSensor = "config.ports.port1.enviro", kTemp = kSensor + ".temp", kUps = "config.ups.ups1";

Settings sensor(const std::string& comparison, const std::string& trigger, const std::string& hysteresis) {
  return {{"enviro.check_type", "temp"}, {"enviro.dev_ref", kSensor}, {"enviro.comparison", comparison},
          {"enviro.trigger_val", trigger}, {"enviro.hysteresis", hysteresis}, {kSensor + ".name", "Rack 4 inlet"}};
}

TEST(ThresholdChecks, EnvironmentalBoundariesAndOddReadings) {
  const struct { Settings settings; Strings values, outcomes; } cases[] = {
      // 10 is not below 10, 9.9 is; 11.9 - 2 < 10 refreshes, 12 - 2 = 10 resolves.
      {sensor("lesser", "10", "2"), {"10", "9.9", "11.9", "12"},
       {"-", "T 9.900000 vs trigger 10.000000", "=", "r 12.000000 vs 10.000000"}},
      {sensor("", "30", "1"), {"30", "30.5", "29.5", "29"},
       {"-", "T 30.500000 vs trigger 30.000000", "=", "r 29.000000 vs 30.000000"}},
      {sensor("Lesser", "30", "1"), {"5", "31", "5"},
       {"-", "T 31.000000 vs trigger 30.000000", "r 5.000000 vs 30.000000"}},
      // NaN never triggers and never resolves; a value with no leading number is no reading, in either state,
      // while trailing text after a number is ignored.
      {sensor("lesser", "30", "1"), {"nan", "N/A", "", " ", "-", "abc", "5abc", "NaN", "abc", "45"},
       {"-", "?", "?", "?", "?", "?", "T 5.000000 vs trigger 30.000000", "=", "?", "r 45.000000 vs 30.000000"}},
  };
  CheckBench b;
  for (const auto& k : cases) EXPECT_EQ(k.outcomes, b.rule("environmental", k.settings).walk(kTemp, k.values));
  EXPECT_EQ(kTemp, b.key());
  EXPECT_EQ("-", b.on(kArNormal, "config.ports.port1.temp.enviro.humid", "99"));  // only "enviro.temp" counts
  EXPECT_EQ((Strings{"0|Rack 4 inlet|QTH5200|" + kSensor, "0|31.25|temp|30"}),
            (Strings{b.device(), b.trigger(kTemp, "31.25")}));
}

TEST(ThresholdChecks, EnvironmentalSettingsThatAreMissing) {
  CheckBench b;
  const std::string type = "Invalid check type for " + kBenchRule;
  const struct { const char *setting, *value; Strings errors; } cases[] = {
      {"enviro.trigger_val", "", {"Could not find trigger value for " + kBenchRule}},
      {"enviro.hysteresis", "", {"Could not find hysteresis value for " + kBenchRule}},
      {"enviro.check_type", "humid ", {type}}, {"enviro.check_type", "", {type, type}}};
  for (const auto& k : cases) {
    Settings s = sensor("", "30", "1");
    for (auto& [key, value] : s) if (key == k.setting) value = k.value;
    b.rule("environmental", s).logs.clear();
    EXPECT_EQ("-", b.on(kArNormal, kTemp, "50")) << k.setting;
    EXPECT_EQ(k.errors, b.errors()) << k.setting;
  }
  b.logs.clear();
  const std::string internal = "config.internals.internal1";
  for (const auto& [ref, device] : {std::pair{internal, "0|Internal QTH|Internal Temperature Sensor|" + internal},
                                    {"config.ups.ups1", "-1|-|-|-"}, {"", "-1|-|-|-"}}) {
    EXPECT_EQ(device, b.rule("environmental", {{"enviro.check_type", "temp"}, {"enviro.dev_ref", ref}}).device());
  }
  EXPECT_EQ((Strings{"-", "-"}), (Strings{b.key(), b.rule("environmental", {{"enviro.dev_ref", kSensor}}).key()}));
  EXPECT_EQ((Strings{"Could not get ref from ar " + kBenchRule, "Invalid environmental property for AR: bench",
                     "Invalid environmental property for AR: bench"}), b.errors());
}

TEST(ThresholdChecks, PowerPropertiesByLongOrShortNameDevicesAndProblems) {
  CheckBench b;
  const auto power = [](const std::string& property, const std::string& ref, const char* comparison) {
    return Settings{{"power.check_type", property}, {"power.dev_ref", ref}, {"power.trigger_val", "80"},
                    {"power.hysteresis", "5"}, {"power.comparison", comparison}, {kUps + ".name", "Rack UPS"}};
  };
  // Updates carry the long name, so a short one subscribes with it; a name outside the table is kept.
  for (const auto& [name, long_name] : {std::pair{"voltage", "input.voltage"}, {"charge", "battery.charge"},
       {"load", "output.load"}, {"frequency", "input.frequency"}, {"current", "output.current"}, {"temp", "temp"},
       {"output.load", "output.load"}, {"watts", "watts"}}) {
    b.rule("power", power(name, kUps, ""));
    EXPECT_EQ((Strings{kUps + ".status." + long_name, "0|81|" + std::string(name) + "|80"}),
              (Strings{b.key(), b.trigger("k", "81")}));
  }
  EXPECT_EQ((Strings{"0|Rack UPS|UPS|" + kUps, "-"}), (Strings{b.device(), b.on(kArNormal, b.key(), "90")}));
  EXPECT_EQ(Strings{"Invalid check type: watts for " + kBenchRule}, b.errors());
  const std::string load = kUps + ".status.output.load";
  EXPECT_EQ((Strings{"-", "?", "T 81.000000 vs trigger 80.000000", "?", "=", "r 75.000000 vs 80.000000"}),
            b.rule("power", power("load", kUps, "")).walk(load, {"80", "N/A", "81", "N/A", "76", "75"}));
  EXPECT_EQ("-", b.on(kArNormal, kUps + ".status.input.voltage", "90"));
  b.rule("power", power("charge", "config.powersupplies.psu1", "lesser"));  // its own name never shows
  EXPECT_EQ((Strings{"-", "T 79.000000 vs trigger 80.000000", "=", "r 85.000000 vs 80.000000"}),
            b.walk(b.key(), {"80", "79", "84", "85"}));
  EXPECT_EQ("0|Power Supply|Sensor enabled internal power supply|config.powersupplies.psu1", b.device());
  b.rule("power", power("", kUps, "")).logs.clear();
  EXPECT_EQ((Strings{"-", "-"}), (Strings{b.on(kArNormal, load, "90"), b.key()}));
  b.rule("power", power("load", "", ""));
  EXPECT_EQ((Strings{"-", "-1|-|-|-"}), (Strings{b.key(), b.device()}));
  EXPECT_EQ((Strings{"Invalid check type: " + kBenchRule + ".power.check_type",
                     "Invalid check type:  for " + kBenchRule, "Invalid power property for AR: bench",
                     "Invalid power property for AR: bench", "Could not get ref from ar " + kBenchRule}),
            b.errors());
}

// A get that is not answered in time leaves the stored count alone.
TEST(EnviroCounter, CountsOnFromTheStoredValueUnderACutKey) {
  const std::string cut = "config.ports.port1.sensors.abcdefghijk.temp.enviro.temperature1";
  const std::string kNoAnswer = "(no answer)";
  LogCapture log;
  const struct { std::string key, stored, counter_key, count; } cases[] = {
      {kTemp, kNoAnswer, kSensor + ".count.temp", ""},
      {kTemp, "", kSensor + ".count.temp", "1"},
      {kTemp, "41", kSensor + ".count.temp", "42"},
      {"x.enviro.temp", "2147483647", "x.enviro.count.temp", "1"},  // runs to INT32_MAX, starts again
      {"x.enviro.temp", "junk", "x.enviro.count.temp", "1"},
      {"x.enviro.temp", "-5", "x.enviro.count.temp", "1"},
      {cut, "", "config.ports.port1.sensors.abcdefghij.count.temperat", "1"},  // 37 + 8 characters
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.key + " " + k.stored);
    InfodLink link;
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);  // as the daemon's own socket
    link.fd = fds[0];
    e2e::Raw infod(fds[1]);
    const bool answers = k.stored != kNoAnswer;
    if (answers) infod.write_all(frame_of("5\x1e" + k.counter_key + (k.stored.empty() ? "" : "\x1e" + k.stored)));
    EXPECT_EQ(answers ? 0 : -1, increment_event_count(&link, k.key));
    infod_buffered_forget(fds[0]);
    close(fds[0]);  // Raw closes the peer's end
    EXPECT_EQ("4\x1e" "ard\x1e" + k.counter_key, infod.read_body());
    EXPECT_EQ(answers ? "1\x1e" + k.counter_key + "\x1e" "0\x1e" + k.count : "", infod.read_body());
  }
  EXPECT_EQ(std::vector<std::string>{"Could not read " + kSensor + ".count.temp"}, log.texts(kLogError));
  InfodLink closed;  // no socket, or a key without a dot: the counter is left alone
  EXPECT_EQ(-1, increment_event_count(&closed, kTemp));
  closed.fd = 99;
  EXPECT_EQ(-1, increment_event_count(&closed, "nodots"));
}

}  // namespace
