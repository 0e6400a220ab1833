// The environmental check: thresholds at their boundaries, odd readings, configuration problems, descriptions.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "checks/enviro.h"
#include "core/context.h"
#include "platform/infod_client.h"
#include "support/check_probe.h"
#include "support/e2e.h"

const std::string kRule1 = probe_rule_path(1), kRule2 = probe_rule_path(2), kSensor = "config.ports.port1.enviro";

static Pushes sensor(const std::string& dev_ref) {
  return {{"enviro.check_type", "temp"}, {"enviro.dev_ref", dev_ref}, {"enviro.trigger_val", "30"},
          {"enviro.hysteresis", "1"}};
}

using EnviroCheck = CheckTest;

TEST_F(EnviroCheck, ThresholdsAtTheirBoundariesConfigurationProblemsAndDescriptions) {
  rule(1, "environmental", sensor(kSensor));
  rule(2, "environmental", sensor("config.ports.port1"));
  rule(3, "environmental", {{"enviro.dev_ref", "config.ports.port3.enviro"}});  // and no property
  c.set(kSensor + ".name", "Rack 4 inlet");
  load(3);
  EXPECT_EQ((Strings{kSensor + ".temp", "config.ports.port1.temp"}), subs);
  EXPECT_TRUE(fatal("Invalid environmental property for AR: rule3"));
  const struct { const char *comparison, *trigger, *hysteresis; std::vector<std::pair<std::string, char>> steps; }
  cases[] = {
      // 10 is not below 10, 9.9 is; 11.9 - 2 < 10 refreshes, 12 - 2 = 10 resolves.
      {"lesser", "10", "2", {{"10", '-'}, {"9.9", 'T'}, {"11.9", 'r'}, {"12", 'N'}}},
      {"", "30", "1", {{"30", '-'}, {"30.5", 'T'}, {"29.5", 'r'}, {"29", 'N'}}},
      {"Lesser", "30", "1", {{"5", '-'}, {"31", 'T'}, {"5", 'N'}}},  // only the exact word turns it round
      // "abc" reads as 0; NaN never triggers and never resolves.
      {"lesser", "30", "1", {{"nan", '-'}, {"abc", 'T'}, {"NaN", 'r'}, {"45", 'N'}}},
      {"", "30.0", "1", {{"31.25", 'T'}}},
  };
  for (const auto& k : cases) {
    set(kRule1 + ".enviro.comparison", k.comparison);
    set(kRule1 + ".enviro.trigger_val", k.trigger);
    set(kRule1 + ".enviro.hysteresis", k.hysteresis);
    walk({1}, subs[0], k.steps);
  }
  EXPECT_EQ("0|31.25|temp|30.0", trigger_of(0));
  EXPECT_EQ("0|Rack 4 inlet|QTH5200|" + kSensor, device_of(0));
  set(kRule1 + ".enviro.dev_ref", "config.internals.internal1");
  EXPECT_EQ("0|Internal QTH|Internal Temperature Sensor|config.internals.internal1", device_of(0));
  // Updates count only with "enviro.temp" in the key; a setting gone discards them, and the daemon goes on.
  const std::string key = "config.ports.port1.temp.enviro.";
  walk({2}, key + "humid", {{"99", '-'}});
  for (const auto& [setting, bad, good, message] :
       {std::tuple{"trigger_val", "", "30", "Could not find trigger value for "},
        {"hysteresis", "", "1", "Could not find hysteresis value for "},
        {"check_type", "humid ", "temp", "Invalid check type for "}}) {
    set(kRule2 + ".enviro." + setting, bad);
    walk({2}, key + "temp", {{"50", '-'}});
    EXPECT_TRUE(fatal(message + kRule2)) << message;
    set(kRule2 + ".enviro." + setting, good);
  }
  walk({2}, key + "temp", {{"50", 'T'}});
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
      {kSensor + ".temp", kNoAnswer, kSensor + ".count.temp", ""},
      {kSensor + ".temp", "", kSensor + ".count.temp", "1"},
      {kSensor + ".temp", "41", kSensor + ".count.temp", "42"},
      {"x.enviro.temp", "2147483647", "x.enviro.count.temp", "1"},  // runs to INT32_MAX, starts again
      {"x.enviro.temp", "junk", "x.enviro.count.temp", "1"},
      {"x.enviro.temp", "-5", "x.enviro.count.temp", "1"},
      {cut, "", "config.ports.port1.sensors.abcdefghij.count.temperat", "1"},  // 37 + 8 characters
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.key + " " + k.stored);
    DaemonContext ctx;
    int fds[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
    fcntl(fds[0], F_SETFL, O_NONBLOCK);  // as the daemon's own socket
    ctx.link.fd = fds[0];
    e2e::Raw infod(fds[1]);
    std::string get, pushed;
    const bool answers = k.stored != kNoAnswer;
    std::thread peer([&] {
      get = infod.read_body();
      const std::string reply = "5\x1e" + k.counter_key + (k.stored.empty() ? "" : "\x1e" + k.stored);
      if (answers) infod.write_all(e2e::frame(reply));
      pushed = infod.read_body();  // "" once the daemon's end is closed
    });
    EXPECT_EQ(answers ? 0 : -1, increment_event_count(&ctx.link, k.key));
    infod_kept_forget(fds[0]);
    close(fds[0]);  // Raw closes the peer's end
    peer.join();
    EXPECT_EQ("4\x1e" "ard\x1e" + k.counter_key, get);
    EXPECT_EQ(answers ? "1\x1e" + k.counter_key + "\x1e" "0\x1e" + k.count : "", pushed);
  }
  log_set_observer(nullptr, nullptr);
  EXPECT_EQ(std::vector<std::string>{"Could not read " + kSensor + ".count.temp"}, errors);
  DaemonContext closed;  // no socket, or a key without a dot: the counter is left alone
  EXPECT_EQ(-1, increment_event_count(&closed.link, kSensor + ".temp"));
  closed.link.fd = 99;
  EXPECT_EQ(-1, increment_event_count(&closed.link, "nodots"));
  closed.link.fd = -1;
}
