// The SNMP alert action: the script and every argument slot for each kind of check,
// from describing operations the test controls, and the CLI filter and failures.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "actions/action_ops.h"
#include "checks/check_type.h"
#include "core/log.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

using namespace action_rules;
using Strings = std::vector<std::string>;

namespace {

// What the fake describing operations answer: device, label, dev_ref, value,
// property and trigger, and their result.
struct Answers { OptionalText texts[6]; int result = 0; };
Answers g_answers;
const OptionalText no;

int answer(int first, OptionalText* a, OptionalText* b, OptionalText* c) {
  OptionalText* outs[] = {a, b, c};
  for (int i = 0; i < 3; ++i) if (outs[i] != nullptr) *outs[i] = g_answers.texts[first + i];
  return g_answers.result;
}
int fake_device(ArCheck*, OptionalText* a, OptionalText* b, OptionalText* c) { return answer(0, a, b, c); }
int fake_trigger(ArCheck*, OptionalText* a, OptionalText* b, OptionalText* c) { return answer(3, a, b, c); }

class SnmpAction : public ::testing::Test {
 protected:
  // Loads config as rule 12 of check_type, reference 3, described by answers, and triggers
  // it by an update of 14 November 2023, 22:13:20.6 UTC: the snmp action has run.
  ArCheck& triggered(const char* check_type, const Answers& answers, ConfigBuilder config = sensor_rule("snmp")) {
    if (d.ctx.config_db != nullptr) unload_config(&d.ctx);
    d.write_config(config);
    if (d.load() != 0 || d.ctx.checks.empty()) throw std::runtime_error("the rule did not load");
    d.write_config(config.set(kRule + ".check_type", check_type));  // read when the action runs
    d.ctx.concurrent_actions = 1000;                                // every start is seen at once
    d.spawner.starts.clear();
    d.logs.clear();
    ArCheck& check = d.check(0);
    ops_ = *check.ops;
    ops_.describe_device = fake_device;
    ops_.describe_trigger = fake_trigger;
    check.ops = &ops_;
    check.ar->index = 12;
    check.ref_index = 3;
    g_answers = answers;
    d.take_sent();
    EXPECT_EQ(d.deliver(kSensorKey, kHot, 1700000000600ULL), 0);
    return check;
  }
  int run(ArCheck& check) { return queue_snmp_action(&check, &check.trigger_actions[0]); }

  ZoneGuard zone{"UTC0"};
  CheckOps ops_{};
  TestDaemon d;
};

TEST_F(SnmpAction, EveryKindRunsItsScriptWithEverySlotInPlace) {
  ConfigBuilder config = sensor_rule("snmp");
  for (const auto& [key, value] : {std::pair{"enviro.trigger_val", "25"}, {"enviro.comparison", "greater"},
                                   {"power.trigger_val", "10"}, {"power.comparison", "lesser"},
                                   {"celldata.data_period", "30"}, {"celldata.data_limit", "1000"},
                                   {"custom.script", "/etc/scripts/check-disk"}})
    config.set(kRule + "." + key, value);
  const struct { const char* check_type; const char* script; Answers answers; Strings tail; } cases[] = {
      {"environmental", "environmental-alert", {"Sensor 1", "Temperature", no, "23.7", "temp", no},
       {"Sensor 1", "Temperature", "temp", "23", "25", "greater"}},
      {"alarm", "dio-alert", {"IO Box", "Door contact", no, "1", no, no}, {"Door contact", "1", "1", "IO Box"}},
      {"alarm", "dio-alert", {"IO Box", "Door contact", no, "2", no, no}, {"Door contact", "2", "-1", "IO Box"}},
      {"power", "power-alert", {"PSU A", "Power Supply", no, "-1.5", "current", no},
       {"PSU A", "Power Supply", "current", "-1", "10", "lesser"}},
      {"serial_pattern", "portmanager-pattern-alert", {"Console 4", no, "config.ports.port4", "ERROR disk", no, no},
       {"door1", "4", "Console 4", "ERROR disk"}},
      {"serial_signal", "portmanager-signal-alert", {"Console 4", no, "config.ports.port4", "0", "DCD", "1"},
       {"4", "Console 4", "DCD", "0", "1"}},
      {"serial_login", "portmanager-user-alert", {"Console 7", no, "config.ports.port7", "LOGIN: root", no, no},
       {"LOGIN", "7", "Console 7", "root"}},
      {"ups_status", "ups-status-alert", {"ups1", no, no, "ONBATT", no, no}, {"ups1", "ONBATT"}},
      {"celldata", "devlog-data-alert", {"Cellular", no, no, "1200", no, no}, {"Cellular", "1200", "30", "1000"}},
      {"net_ping", "host-alert", {"gw", no, "config.hosts.gw", "lost", "ping", "3"}, {"gw", "ping", "lost", "3"}},
      {"custom", "custom-alert", {no, no, no, "2", no, "0"}, {"/etc/scripts/check-disk", "2", "0"}},
      {"sms", "sms-alert", {no, no, no, "reboot now", "+61400000000", "reboot.*"},
       {"reboot now", "+61400000000", "reboot.*"}},
      {"webui_login", "webui-user-alert", {no, no, no, "LOGIN: admin:[2001:db8::7]:https", "N/A", "N/A"},
       {"LOGIN", "admin", "[2001:db8::7]", "https"}},
      {"conman", "network-interface-alert", {"eth0", "Interface", "config.interfaces.wan", "down", "status", "up"},
       {"eth0", "Interface", "status", "down", "up"}},
      // Optional texts that are missing leave their slots empty and the later ones in place.
      {"conman", "network-interface-alert", {"eth0", "Interface", no, "down", no, no},
       {"eth0", "Interface", "", "down", ""}},
      {"cli_login", "cli-user-alert", {no, no, no, "LOGIN: root:sshd:/bin/bash:192.0.2.9", "N/A", "N/A"},
       {"LOGIN", "root", "SSH Service", "192.0.2.9"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.check_type);
    ArCheck& c = triggered(k.check_type, k.answers, config);
    Strings expected{k.script, "snmp", "12", "3", "07e70b0e160d14062b0000", "2"};
    expected.insert(expected.end(), k.tail.begin(), k.tail.end());
    ASSERT_EQ(d.spawner.starts.size(), 1u);
    EXPECT_EQ(d.spawner.starts[0].path, d.paths.scripts_dir + k.script);
    EXPECT_EQ(d.spawner.starts[0].argv, expected);
    EXPECT_FALSE(d.spawner.starts[0].has_envp);
    EXPECT_EQ(c.trigger_actions[0].status, kActionQueued);
  }
}

TEST_F(SnmpAction, StateSlotAndTheTimeWithoutAnEvent) {
  ArCheck& c = triggered("ups_status", {"ups1", no, no, "OL", no, no});
  // Rules without a resolve stage always report Triggered.
  const struct { bool has_resolve; ArCheckState state; const char* slot; } cases[] = {
      {true, kArResolving, "3"}, {true, kArDisabled, "5"}, {true, kArNone, "-1"},
      {false, kArNormal, "2"},   {false, kArTimeout, "2"}, {false, kArDisabled, "2"}};
  for (const auto& k : cases) {
    c.ar->has_resolve = k.has_resolve;
    c.state = k.state;
    ASSERT_EQ(run(c), 0);
    EXPECT_EQ(d.spawner.starts.back().argv.at(5), k.slot) << k.has_resolve << " " << k.state;
  }
  c.current_event.reset();
  d.clock.wall = 1704067199;  // the last second of 2023
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(d.spawner.starts.back().argv.at(4), "07e70c1f173b3b002b0000");
}

TEST_F(SnmpAction, FailuresDropTheActionButNotTheNextOne) {
  const std::string io = kRule + ".trigger_actions.action2";  // a dio action after the snmp one
  ConfigBuilder config = sensor_rule("snmp").set(kRule + ".trigger_actions.total", 2).set(io + ".name", "io");
  config.set(io + ".action_type", "dio");
  const struct { const char* check_type; Answers answers; std::string log = "Error generating script arguments"; }
  cases[] = {
      {"environmental", {"Dev", no, no, "1", "p", no}},       // no label
      {"alarm", {no, "Label", no, "1", no, no}},              // no device
      {"webui_login", {no, no, no, "LOGIN: a:b:c", no, no}},  // no property
      {"serial_login", {"Dev", no, no, "LOGIN:", no, no}},    // no user word
      {"ups_status", {"Dev", no, no, "OL", no, no, -1}},      // the operations fail
      {"custom", {no, no, no, "2", no, "0", -1}},
      {"celldata", {"Cellular", no, no, "1200", no, no}},  // no period or limit
      {"power", {"PSU", "Power", no, "3", "volts", no}, "Could not find trigger value for " + kRule},
      {"usb_console_status", {}, "No snmp alert script for usb_console_status checks"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.check_type);
    ArCheck& c = triggered(k.check_type, k.answers, config);
    EXPECT_TRUE(logged_at(d, kLogFatal, k.log));
    EXPECT_TRUE(engine_logged(d, "Action act for AR door1, queuing failed"));
    EXPECT_EQ(c.trigger_actions[0].status, kActionDropped);
    ASSERT_EQ(d.spawner.starts.size(), 1u);
    EXPECT_EQ(d.spawner.starts[0].path, d.paths.ioc);
  }
}

TEST_F(SnmpAction, CliEventsOfKnownServicesOnly) {
  const struct { const char* value; const char* label; const char* filtered; } cases[] = {
      {"LOGOUT: root:sshd:/bin/bash:192.0.2.9", "SSH Service", nullptr},
      {"LOGIN: root:login:/bin/bash:ttyS0", "CLI Shell", nullptr},
      {"AUTH ERROR: root:login:/bin/bash:ttyS0", "Login Prompt", nullptr},
      {"LOGIN: root:sshd:/bin/pmshell:192.0.2.9", nullptr, "Filtering CLI event LOGIN for service sshd"},
      {"LOGIN: root:telnetd:/bin/bash:192.0.2.9", nullptr, "Filtering CLI event LOGIN for service telnetd"},
      {"SU: root:sshd:/bin/bash:x", nullptr, "Filtering CLI event SU for service sshd"},
      {"LOGIN: root", nullptr, "Filtering CLI event LOGIN for service "},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.value);
    ArCheck& c = triggered("cli_login", {no, no, no, k.value, "N/A", no});
    if (k.filtered == nullptr) {
      EXPECT_EQ(d.spawner.starts.at(0).argv.at(8), k.label);
      continue;
    }
    EXPECT_TRUE(logged_at(d, kLogInfo, k.filtered));
    EXPECT_TRUE(engine_logged(d, "Action act for AR door1, skipped"));  // not failed
    EXPECT_TRUE(d.spawner.starts.empty());
    EXPECT_EQ(c.trigger_actions[0].status, kActionDropped);
  }
}

}  // namespace
