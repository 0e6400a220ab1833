// The threshold checks (environmental and power): boundaries, odd readings, the key each subscribes to,
// configuration problems, descriptions, and the environmental trigger counter kept in infod.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "checks/enviro.h"
#include "core/link.h"
#include "core/log.h"
#include "platform/infod_client.h"
#include "support/check_bench.h"
#include "support/e2e.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kSensor = "config.ports.port1.enviro", kTemp = kSensor + ".temp", kUps = "config.ups.ups1";

std::string trig(const std::string& v, const std::string& t) {
  return "trigger: AR " + kBenchRule + " triggered. val " + v + " vs trigger " + t;
}
std::string res(const std::string& v, const std::string& t) {
  return "resolve: ar " + kBenchRule + " resolving. val " + v + " vs " + t;
}

Settings sensor(const std::string& comparison, const std::string& trigger, const std::string& hysteresis) {
  return {{"enviro.check_type", "temp"}, {"enviro.dev_ref", kSensor}, {"enviro.comparison", comparison},
          {"enviro.trigger_val", trigger}, {"enviro.hysteresis", hysteresis}, {kSensor + ".name", "Rack 4 inlet"}};
}

TEST(ThresholdChecks, EnvironmentalBoundariesAndOddReadings) {
  const std::string t10 = "10.000000", t30 = "30.000000";
  const struct { Settings settings; Strings values, outcomes; } cases[] = {
      // 10 is not below 10, 9.9 is; 11.9 - 2 < 10 refreshes, 12 - 2 = 10 resolves.
      {sensor("lesser", "10", "2"), {"10", "9.9", "11.9", "12"},
       {"drop", trig("9.900000", t10), "refresh", res("12.000000", t10)}},
      {sensor("", "30", "1"), {"30", "30.5", "29.5", "29"},
       {"drop", trig("30.500000", t30), "refresh", res("29.000000", t30)}},
      {sensor("Lesser", "30", "1"), {"5", "31", "5"}, {"drop", trig("31.000000", t30), res("5.000000", t30)}},
      // "abc" reads as 0; NaN never triggers and never resolves.
      {sensor("lesser", "30", "1"), {"nan", "abc", "NaN", "45"},
       {"drop", trig("0.000000", t30), "refresh", res("45.000000", t30)}},
  };
  CheckBench b;
  for (const auto& k : cases) {
    b.rule("environmental", k.settings);
    EXPECT_EQ(k.outcomes, b.walk(kTemp, k.values)) << k.settings[2].second << " " << k.settings[3].second;
  }
  EXPECT_EQ(kTemp, b.key());
  EXPECT_EQ("drop", b.on(kArNormal, "config.ports.port1.temp.enviro.humid", "99"));  // only "enviro.temp" counts
  EXPECT_EQ("0|Rack 4 inlet|QTH5200|" + kSensor, b.device());
  EXPECT_EQ("0|31.25|temp|30", b.trigger(kTemp, "31.25"));
}

TEST(ThresholdChecks, EnvironmentalSettingsThatAreMissingDiscardTheUpdate) {
  CheckBench b;
  const struct { const char *setting, *value; Strings errors; } cases[] = {
      {"enviro.trigger_val", "", {"Could not find trigger value for " + kBenchRule}},
      {"enviro.hysteresis", "", {"Could not find hysteresis value for " + kBenchRule}},
      {"enviro.check_type", "humid ", {"Invalid check type for " + kBenchRule}},
      {"enviro.check_type", "", {"Invalid check type for " + kBenchRule, "Invalid check type for " + kBenchRule}},
  };
  for (const auto& k : cases) {
    Settings s = sensor("", "30", "1");
    for (auto& [key, value] : s) if (key == k.setting) value = k.value;
    b.rule("environmental", s);
    b.logs.clear();
    EXPECT_EQ("drop", b.on(kArNormal, kTemp, "50")) << k.setting;
    EXPECT_EQ(k.errors, b.errors()) << k.setting;
  }
  b.logs.clear();
  const struct { const char* ref; std::string device; } devices[] = {
      {"config.internals.internal1", "0|Internal QTH|Internal Temperature Sensor|config.internals.internal1"},
      {"config.ups.ups1", "-1|-|-|-"}, {"", "-1|-|-|-"}};
  for (const auto& [ref, device] : devices) {
    b.rule("environmental", {{"enviro.check_type", "temp"}, {"enviro.dev_ref", ref}});
    EXPECT_EQ(device, b.device()) << ref;
  }
  EXPECT_EQ("-", b.key());
  EXPECT_EQ("-", b.rule("environmental", {{"enviro.dev_ref", kSensor}}).key());
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
  const std::pair<const char*, const char*> names[] = {{"voltage", "input.voltage"}, {"charge", "battery.charge"},
      {"load", "output.load"}, {"frequency", "input.frequency"}, {"current", "output.current"}, {"temp", "temp"},
      {"output.load", "output.load"}, {"watts", "watts"}};
  for (const auto& [name, long_name] : names) {
    b.rule("power", power(name, kUps, ""));
    EXPECT_EQ(kUps + ".status." + long_name, b.key()) << name;
    EXPECT_EQ("0|81|" + std::string(name) + "|80", b.trigger(b.key(), "81"));
  }
  EXPECT_EQ("0|Rack UPS|UPS|" + kUps, b.device());
  EXPECT_EQ("drop", b.on(kArNormal, b.key(), "90"));
  EXPECT_EQ(Strings{"Invalid check type: watts for " + kBenchRule}, b.errors());
  const std::string t = "80.000000", load = kUps + ".status.output.load";
  b.rule("power", power("load", kUps, ""));
  EXPECT_EQ((Strings{"drop", trig("81.000000", t), "refresh", res("75.000000", t)}), b.walk(load, {"80", "81", "76", "75"}));
  EXPECT_EQ("drop", b.on(kArNormal, kUps + ".status.input.voltage", "90"));
  b.rule("power", power("charge", "config.powersupplies.psu1", "lesser"));  // its own name never shows
  EXPECT_EQ((Strings{"drop", trig("79.000000", t), "refresh", res("85.000000", t)}),
            b.walk(b.key(), {"80", "79", "84", "85"}));
  EXPECT_EQ("0|Power Supply|Sensor enabled internal power supply|config.powersupplies.psu1", b.device());
  b.logs.clear();
  b.rule("power", power("", kUps, ""));
  EXPECT_EQ((Strings{"drop", "-"}), (Strings{b.on(kArNormal, load, "90"), b.key()}));
  b.rule("power", power("load", "", ""));
  EXPECT_EQ((Strings{"-", "-1|-|-|-"}), (Strings{b.key(), b.device()}));
  EXPECT_EQ((Strings{"Invalid check type: " + kBenchRule + ".power.check_type", "Invalid check type:  for " + kBenchRule,
                     "Invalid power property for AR: bench", "Invalid power property for AR: bench",
                     "Could not get ref from ar " + kBenchRule}), b.errors());
}

// The trigger counter lives in infod: read it, add one, push it back, on the daemon's own socket.
// A get that is not answered in time leaves the stored count alone.
TEST(EnviroCounter, CountsOnFromTheStoredValueUnderACutKey) {
  const std::string cut = "config.ports.port1.sensors.abcdefghijk.temp.enviro.temperature1";
  const std::string kNoAnswer = "(no answer)";
  std::vector<std::string> errors;
  log_set_observer([](int priority, const char* text, void* seen) {
    if (priority == kLogError) static_cast<std::vector<std::string>*>(seen)->push_back(text);
  }, &errors);
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
    std::string get, pushed;
    const bool answers = k.stored != kNoAnswer;
    std::thread peer([&] {
      get = infod.read_body();
      const std::string reply = "5\x1e" + k.counter_key + (k.stored.empty() ? "" : "\x1e" + k.stored);
      if (answers) infod.write_all(e2e::frame(reply));
      pushed = infod.read_body();  // "" once the daemon's end is closed
    });
    EXPECT_EQ(answers ? 0 : -1, increment_event_count(&link, k.key));
    infod_kept_forget(fds[0]);
    close(fds[0]);  // Raw closes the peer's end
    peer.join();
    EXPECT_EQ("4\x1e" "ard\x1e" + k.counter_key, get);
    EXPECT_EQ(answers ? "1\x1e" + k.counter_key + "\x1e" "0\x1e" + k.count : "", pushed);
  }
  log_set_observer(nullptr, nullptr);
  EXPECT_EQ(std::vector<std::string>{"Could not read " + kSensor + ".count.temp"}, errors);
  InfodLink closed;  // no socket, or a key without a dot: the counter is left alone
  EXPECT_EQ(-1, increment_event_count(&closed, kTemp));
  closed.fd = 99;
  EXPECT_EQ(-1, increment_event_count(&closed, "nodots"));
}

}  // namespace
