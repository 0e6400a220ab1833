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
#include "support/test_daemon.h"

namespace {

class Enviro : public ::testing::Test {
 protected:
  void SetUp() override {
    c.set("config.autoresponse.total", 1);
    add_enviro_rule(c, 1, "sensor");
  }
  void load() {
    d.write_config(c);
    ASSERT_EQ(0, d.load());
  }
  void set(const std::string& key, const std::string& value) { c.set(rule_path(1) + "." + key, value); }
  // Feeds the readings in order and returns the state after each.
  std::vector<int> feed(const std::vector<std::string>& readings, const std::string& key = enviro_key(1)) {
    std::vector<int> states;
    for (const auto& r : readings) {
      EXPECT_EQ(0, d.deliver(key, r));
      states.push_back(d.check(0).state);
    }
    return states;
  }
  ConfigBuilder c;
  TestDaemon d;
};

const int N = kArNormal;
const int T = kArTriggered;

TEST_F(Enviro, LesserKindAtItsBoundaries) {
  set("enviro.comparison", "lesser");
  set("enviro.trigger_val", "10");
  set("enviro.hysteresis", "2");
  load();
  // 10 is not below 10; 9.9 is. 11.9 - 2 < 10 refreshes; 12 - 2 = 10 resolves.
  EXPECT_EQ((std::vector<int>{N, T, T, N}), feed({"10", "9.9", "11.9", "12"}));
}

TEST_F(Enviro, GreaterKindAtItsBoundaries) {
  set("enviro.trigger_val", "30");
  set("enviro.hysteresis", "1");
  load();
  EXPECT_EQ((std::vector<int>{N, T, T, N}), feed({"30", "30.5", "29.5", "29"}));
}

TEST_F(Enviro, NoHysteresisResolvesBackAtTheThreshold) {
  set("enviro.hysteresis", "0");
  load();
  EXPECT_EQ((std::vector<int>{T, T, N}), feed({"31", "30.01", "30"}));
}

TEST_F(Enviro, ComparisonOtherThanLesserIsTheGreaterKind) {
  set("enviro.comparison", "Lesser");
  load();
  EXPECT_EQ((std::vector<int>{N, T}), feed({"5", "31"}));
}

TEST_F(Enviro, OddReadings) {
  set("enviro.comparison", "lesser");
  load();
  // "abc" reads as 0, which is below 30; NaN never triggers or resolves.
  EXPECT_EQ((std::vector<int>{N, T, T, N}), feed({"nan", "abc", "NaN", "45"}));
  EXPECT_EQ((std::vector<int>{N}), feed({"-nan"}));
}

TEST_F(Enviro, UpdatesOfTheOtherReadingAreDropped) {
  set("enviro.dev_ref", "config.ports.port1");
  load();
  // Both keys contain the subscription; only the one with the temperature
  // marker counts.
  EXPECT_EQ((std::vector<int>{N}), feed({"99"}, "config.ports.port1.temp.enviro.humid"));
  EXPECT_EQ((std::vector<int>{T}), feed({"99"}, "config.ports.port1.temp.enviro.temp"));
}

TEST_F(Enviro, ConfigurationProblemsDiscardUpdatesButKeepTheDaemon) {
  load();
  c.set(rule_path(1) + ".enviro.trigger_val", "");
  d.write_config(c);
  EXPECT_EQ(0, d.deliver(enviro_key(1), "50"));
  EXPECT_TRUE(d.logged("Could not find trigger value for config.autoresponse.autoresponse1"));
  c.set(rule_path(1) + ".enviro.trigger_val", "30").set(rule_path(1) + ".enviro.hysteresis", "");
  d.write_config(c);
  EXPECT_EQ(0, d.deliver(enviro_key(1), "50"));
  EXPECT_TRUE(d.logged("Could not find hysteresis value for config.autoresponse.autoresponse1"));
  c.set(rule_path(1) + ".enviro.hysteresis", "1").set(rule_path(1) + ".enviro.check_type", "humid ");
  d.write_config(c);
  EXPECT_EQ(0, d.deliver(enviro_key(1), "50"));
  EXPECT_TRUE(d.logged("Invalid check type for config.autoresponse.autoresponse1"));
  EXPECT_EQ(kArNormal, d.check(0).state);
  // Fixed again: the next update is evaluated as usual.
  c.set(rule_path(1) + ".enviro.check_type", "temp");
  d.write_config(c);
  EXPECT_EQ(0, d.deliver(enviro_key(1), "50"));
  EXPECT_EQ(kArTriggered, d.check(0).state);
}

TEST_F(Enviro, MissingPropertiesRejectTheReferenceAtCreation) {
  set("enviro.check_type", "");
  load();
  EXPECT_TRUE(d.ctx.checks.empty());
  EXPECT_TRUE(d.logged("Invalid environmental property for AR: sensor"));
  EXPECT_TRUE(d.logged("No subscription for rule: config.autoresponse.autoresponse1 - 1"));
}

TEST_F(Enviro, Descriptions) {
  set("enviro.trigger_val", "30.0");
  c.set("config.ports.port1.enviro.name", "Rack 4 inlet");
  load();
  OptionalText device, label, dev_ref, value, property, trigger;
  ArCheck& check = d.check(0);
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_FALSE(value);
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ("Rack 4 inlet", *device);
  EXPECT_EQ("QTH5200", *label);
  EXPECT_EQ("config.ports.port1.enviro", *dev_ref);
  d.deliver(enviro_key(1), "31.25");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ("31.25", *value);
  EXPECT_EQ("temp", *property);
  EXPECT_EQ("30.0", *trigger);
  // Nothing wanted, nothing made.
  EXPECT_EQ(0, check.ops->describe_device(&check, nullptr, nullptr, nullptr));
}

TEST_F(Enviro, InternalSensorAndUnknownReferences) {
  set("enviro.dev_ref", "config.internals.internal1");
  load();
  OptionalText device, label;
  ArCheck& check = d.check(0);
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, nullptr));
  EXPECT_EQ("Internal QTH", *device);
  EXPECT_EQ("Internal Temperature Sensor", *label);
  c.set(rule_path(1) + ".enviro.dev_ref", "config.elsewhere.sensor");
  d.write_config(c);
  EXPECT_EQ(-1, check.ops->describe_device(&check, &device, &label, nullptr));
}

// Answers the counter's get with a stored value (none when empty) and
// records the push that follows.
class CounterPeer {
 public:
  CounterPeer(int fd, std::string stored) : fd_(fd), stored_(std::move(stored)) {
    thread_ = std::thread([this] { serve(); });
  }
  ~CounterPeer() { finish(); }
  void finish() {
    if (thread_.joinable()) thread_.join();
  }
  std::string get_key, pushed;

 private:
  std::string read_frame() {
    std::string head, body;
    char ch;
    while (head.size() < 4 && read(fd_, &ch, 1) == 1) head += ch;
    if (head.size() < 4) return "";
    size_t len = 0;
    for (char h : head) len = (len << 8) | static_cast<unsigned char>(h);
    while (body.size() < len && read(fd_, &ch, 1) == 1) body += ch;
    return body;
  }
  void serve() {
    const std::string get = read_frame();
    get_key = get.substr(get.rfind('\x1e') + 1);
    std::string reply = std::string("5\x1e") + get_key;
    if (!stored_.empty()) reply += "\x1e" + stored_;
    const std::string f = e2e::frame(reply);
    if (write(fd_, f.data(), f.size()) < 0) return;
    pushed = read_frame();
  }
  int fd_;
  std::string stored_;
  std::thread thread_;
};

class Counter : public Enviro {
 protected:
  // Triggers the rule once on dev_ref with the counter stored as stored.
  void trigger_with(const std::string& stored, const std::string& dev_ref = "config.ports.port1.enviro",
                    std::string key = "") {
    if (key.empty()) key = dev_ref + ".temp";
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    set("enviro.dev_ref", dev_ref);
    load();
    d.ctx.infod_fd = fds[0];
    CounterPeer peer(fds[1], stored);
    EXPECT_EQ(0, d.deliver(key, "35"));
    EXPECT_EQ(kArTriggered, d.check(0).state);
    peer.finish();
    get_key = peer.get_key;
    pushed = peer.pushed;
    d.ctx.infod_fd = -1;
    close(fds[0]);
    close(fds[1]);
  }
  std::string get_key, pushed;
};

TEST_F(Counter, FirstTriggerWritesOne) {
  trigger_with("");
  EXPECT_EQ("config.ports.port1.enviro.count.temp", get_key);
  EXPECT_EQ("1\x1e" "config.ports.port1.enviro.count.temp\x1e" "0\x1e" "1", pushed);
  EXPECT_TRUE(d.logged("config.ports.port1.enviro.count.temp => 1"));
}

TEST_F(Counter, CountsOnAndStartsAgainAfterTheLargest) {
  trigger_with("41");
  EXPECT_EQ("42", pushed.substr(pushed.rfind('\x1e') + 1));
}

class CounterRestart : public Counter, public ::testing::WithParamInterface<const char*> {};

TEST_P(CounterRestart, StoredValueStartsTheCountAgain) {
  trigger_with(GetParam());
  EXPECT_EQ("1", pushed.substr(pushed.rfind('\x1e') + 1));
}

INSTANTIATE_TEST_SUITE_P(Stored, CounterRestart, ::testing::Values("2147483647", "-5", "-2147483648", "junk",
                                                                  "99999999999"));

TEST_F(Counter, LongKeysAreCut) {
  const std::string dev_ref = "config.ports.port1.sensors.abcdefghijk";
  trigger_with("", dev_ref, dev_ref + ".temp.enviro.temperature1");
  EXPECT_EQ("config.ports.port1.sensors.abcdefghij.count.temperat", get_key);
}

TEST_F(Enviro, CounterNeedsTheSocketAndADot) {
  load();
  EXPECT_EQ(-1, increment_event_count(&d.ctx, "config.ports.port1.enviro.temp"));
  EXPECT_TRUE(d.logged("infod socket is closed"));
  d.ctx.infod_fd = 99;
  EXPECT_EQ(-1, increment_event_count(&d.ctx, "nodots"));
  EXPECT_TRUE(d.logged("Invalid prefix: nodots"));
  d.ctx.infod_fd = -1;
}

}  // namespace
