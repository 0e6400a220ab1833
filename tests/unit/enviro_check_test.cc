// The environmental check: thresholds and hysteresis at their boundaries,
// odd readings, configuration problems, descriptions and the trigger
// counter kept in infod.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "checks/check_type.h"
#include "checks/enviro.h"
#include "support/e2e.h"
#include "support/rules.h"

namespace {

const int N = kArNormal;
const int T = kArTriggered;

using Settings = std::vector<std::pair<std::string, std::string>>;

// A daemon with rule 1 on sensor port 1, settings overridden as given.
struct Sensor {
  explicit Sensor(const Settings& settings = {}) {
    c.set("config.autoresponse.total", 1);
    add_enviro_rule(c, 1, "sensor");
    for (const auto& [key, value] : settings) c.set(key.rfind("config.", 0) == 0 ? key : rule_path(1) + "." + key, value);
    d.write_config(c);
    EXPECT_EQ(0, d.load());
  }
  void change(const std::string& key, const std::string& value) {
    c.set(rule_path(1) + "." + key, value);
    d.write_config(c);
  }
  int feed(const std::string& reading, const std::string& key = enviro_key(1)) {
    EXPECT_EQ(0, d.deliver(key, reading));
    return d.check(0).state;
  }
  ConfigBuilder c;
  TestDaemon d;
};

TEST(Enviro, ThresholdsAndHysteresisAtTheirBoundaries) {
  struct Case {
    const char* comparison;
    const char* trigger;
    const char* hysteresis;
    std::vector<std::string> readings;
    std::vector<int> states;
  };
  const Case cases[] = {
      // 10 is not below 10, 9.9 is; 11.9 - 2 < 10 refreshes, 12 - 2 = 10 resolves.
      {"lesser", "10", "2", {"10", "9.9", "11.9", "12"}, {N, T, T, N}},
      {"", "30", "1", {"30", "30.5", "29.5", "29"}, {N, T, T, N}},
      {"greater", "30", "0", {"31", "30.01", "30"}, {T, T, N}},
      // Only the exact word "lesser" turns the comparison round.
      {"Lesser", "30", "1", {"5", "31"}, {N, T}},
      // "abc" reads as 0; NaN never triggers and never resolves.
      {"lesser", "30", "1", {"nan", "abc", "NaN", "45"}, {N, T, T, N}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.comparison) + " " + k.trigger + " " + k.hysteresis);
    Sensor s(Settings{{"enviro.comparison", k.comparison}, {"enviro.trigger_val", k.trigger}, {"enviro.hysteresis", k.hysteresis}});
    std::vector<int> states;
    for (const auto& r : k.readings) states.push_back(s.feed(r));
    EXPECT_EQ(k.states, states);
  }
}

TEST(Enviro, OnlyKeysWithTheReadingsMarkerCount) {
  Sensor s(Settings{{"enviro.dev_ref", "config.ports.port1"}});
  EXPECT_EQ(N, s.feed("99", "config.ports.port1.temp.enviro.humid"));
  EXPECT_EQ(T, s.feed("99", "config.ports.port1.temp.enviro.temp"));
}

TEST(Enviro, ConfigurationProblemsDiscardUpdatesButKeepTheDaemon) {
  Sensor s;
  const std::pair<const char*, const char*> broken[] = {
      {"enviro.trigger_val", "Could not find trigger value for config.autoresponse.autoresponse1"},
      {"enviro.hysteresis", "Could not find hysteresis value for config.autoresponse.autoresponse1"},
      {"enviro.check_type", "Invalid check type for config.autoresponse.autoresponse1"},
  };
  for (const auto& [key, message] : broken) {
    s.change(key, key == std::string("enviro.check_type") ? "humid " : "");
    EXPECT_EQ(N, s.feed("50"));
    EXPECT_TRUE(s.d.logged(message)) << message;
    s.change(key, key == std::string("enviro.check_type") ? "temp" : "1");
  }
  s.change("enviro.trigger_val", "30");
  EXPECT_EQ(T, s.feed("50"));
}

TEST(Enviro, MissingPropertiesRejectTheReferenceAtCreation) {
  Sensor s(Settings{{"enviro.check_type", ""}});
  EXPECT_TRUE(s.d.ctx.checks.empty());
  EXPECT_TRUE(s.d.logged("Invalid environmental property for AR: sensor"));
  EXPECT_TRUE(s.d.logged("No subscription for rule: config.autoresponse.autoresponse1 - 1"));
}

TEST(Enviro, Descriptions) {
  Sensor s(Settings{{"enviro.trigger_val", "30.0"}, {"config.ports.port1.enviro.name", "Rack 4 inlet"}});
  ArCheck& check = s.d.check(0);
  OptionalText device, label, dev_ref, value, property, trigger;
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ((std::vector<std::string>{"Rack 4 inlet", "QTH5200", "config.ports.port1.enviro"}),
            (std::vector<std::string>{*device, *label, *dev_ref}));
  s.feed("31.25");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ((std::vector<std::string>{"31.25", "temp", "30.0"}), (std::vector<std::string>{*value, *property, *trigger}));
  s.change("enviro.dev_ref", "config.internals.internal1");
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, nullptr));
  EXPECT_EQ("Internal QTH", *device);
  EXPECT_EQ("Internal Temperature Sensor", *label);
  s.change("enviro.dev_ref", "config.elsewhere.sensor");
  EXPECT_EQ(-1, check.ops->describe_device(&check, &device, &label, nullptr));
}

// Reads one frame's body from a blocking socket.
std::string read_frame(int fd) {
  std::string head, body;
  char ch;
  while (head.size() < 4 && read(fd, &ch, 1) == 1) head += ch;
  size_t len = 0;
  for (char h : head) len = (len << 8) | static_cast<unsigned char>(h);
  while (head.size() == 4 && body.size() < len && read(fd, &ch, 1) == 1) body += ch;
  return body;
}

TEST(EnviroCounter, CountsEveryTriggerInInfod) {
  struct Case {
    const char* stored;  // "" for no value
    const char* dev_ref;
    const char* key;
    const char* counter_key;
    const char* count;
  };
  const std::string long_ref = "config.ports.port1.sensors.abcdefghijk";
  const Case cases[] = {
      {"", "config.ports.port1.enviro", "config.ports.port1.enviro.temp", "config.ports.port1.enviro.count.temp", "1"},
      {"41", "config.ports.port1.enviro", "config.ports.port1.enviro.temp", "config.ports.port1.enviro.count.temp", "42"},
      // The count runs to the largest 32-bit number and starts again.
      {"2147483647", "x.enviro", "x.enviro.temp", "x.enviro.count.temp", "1"},
      {"-5", "x.enviro", "x.enviro.temp", "x.enviro.count.temp", "1"},
      {"junk", "x.enviro", "x.enviro.temp", "x.enviro.count.temp", "1"},
      {"99999999999", "x.enviro", "x.enviro.temp", "x.enviro.count.temp", "1"},
      // Prefix cut to 37 characters, suffix to 8.
      {"", long_ref.c_str(), "config.ports.port1.sensors.abcdefghijk.temp.enviro.temperature1",
       "config.ports.port1.sensors.abcdefghij.count.temperat", "1"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.key + std::string(" ") + k.stored);
    Sensor s(Settings{{"enviro.dev_ref", k.dev_ref}});
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    s.d.ctx.infod_fd = fds[0];
    std::string get, pushed;
    std::thread infod([&] {
      get = read_frame(fds[1]);
      const std::string asked = get.substr(get.rfind('\x1e') + 1);
      const std::string reply = e2e::frame("5\x1e" + asked + (*k.stored != '\0' ? "\x1e" + std::string(k.stored) : ""));
      if (write(fds[1], reply.data(), reply.size()) > 0) pushed = read_frame(fds[1]);
    });
    EXPECT_EQ(T, s.feed("35", k.key));
    infod.join();
    s.d.ctx.infod_fd = -1;
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(std::string("4\x1e" "ard\x1e") + k.counter_key, get);
    EXPECT_EQ(std::string("1\x1e") + k.counter_key + "\x1e" "0\x1e" + k.count, pushed);
  }
}

TEST(EnviroCounter, NeedsTheSocketAndADot) {
  Sensor s;
  EXPECT_EQ(-1, increment_event_count(&s.d.ctx, "config.ports.port1.enviro.temp"));
  EXPECT_TRUE(s.d.logged("infod socket is closed"));
  s.d.ctx.infod_fd = 99;
  EXPECT_EQ(-1, increment_event_count(&s.d.ctx, "nodots"));
  EXPECT_TRUE(s.d.logged("Invalid prefix: nodots"));
  s.d.ctx.infod_fd = -1;
}

}  // namespace
