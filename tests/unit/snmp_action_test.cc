// The SNMP alert action's whole argument vectors, and its field parsers (DateAndTime: time64_test.cc).
#include <gtest/gtest.h>

#include "actions/action_kinds.h"
#include "checks/check_type.h"
#include "checks/snmp_fields.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

// What the fake describing operations answer: device, label, dev_ref, then value, property, trigger.
static std::vector<OptionalText> g_answers;
const OptionalText no;

template <size_t first>
int answer(const ArCheck*, OptionalText* a, OptionalText* b, OptionalText* c) {
  OptionalText* outs[] = {a, b, c};
  for (size_t i = 0; i < 3; ++i) if (outs[i] != nullptr) *outs[i] = g_answers.at(first + i);
  return 0;
}

// A Triggered rule whose event came on 2023-11-14 at 22:13:20.6 UTC, described by the fakes.
class SnmpAction : public ::testing::Test {
 protected:
  void SetUp() override {
    d.write_config(sensor_rule("dio"));
    ASSERT_EQ(d.load(), 0);
    ops_ = *d.check(0).conf.ops;
    ops_.describe_device = answer<0>;
    ops_.describe_trigger = answer<3>;
    d.check(0).conf.ops = &ops_;
    d.check(0).current_event.reset(new CheckEvent{kSensorKey, 1700000000600ULL, 0, kHot});
    d.check(0).state = kArTriggered;
    d.ctx.queue.concurrent_actions = 1000;  // every start is seen at once
  }
  // The action's result for the rule as one of check_type described by answers; argv holds its start's arguments.
  int run(const char* check_type, const std::vector<OptionalText>& answers) {
    d.write_config(sensor_rule("snmp").set(kRule + ".check_type", check_type));
    d.check(0).conf.ar->kind = check_type_named(check_type);
    g_answers = answers;
    d.spawner.starts.clear();
    ArCheck& k = d.check(0);
    const int result = action_kind_find("snmp")->queue(d.ctx.actions, &k, k.conf.ar->trigger_actions[0], &k.trigger_status()[0]);
    argv = d.spawner.starts.size() == 1 ? d.spawner.starts[0].argv : Strings{};
    return result;
  }
  ZoneGuard zone{"UTC0"};
  TestDaemon d;
  CheckOps ops_{};
  Strings argv;
};

TEST_F(SnmpAction, SlotsStayInPlaceAndTheStateSlot) {
  // A value other than 0 or 1 is validated to -1; missing optional texts leave their slots empty.
  ASSERT_EQ(run("alarm", {"IO Box", "Door contact", no, "2", no, no}), 0);
  EXPECT_EQ(argv, (Strings{"dio-alert", "snmp", "1", "1", "07e70b0e160d14062b0000", "2", "Door contact", "2", "-1",
                           "IO Box"}));
  ASSERT_EQ(run("conman", {"eth0", "Interface", no, "down", no, no}), 0);
  EXPECT_EQ(argv, (Strings{"network-interface-alert", "snmp", "1", "1", "07e70b0e160d14062b0000", "2", "eth0",
                           "Interface", "", "down", ""}));
  // Rules without a resolve stage always report Triggered.
  const struct { bool has_resolve; ArCheckState state; const char* slot; } cases[] = {
      {true, kArResolving, "3"}, {true, kArDisabled, "5"}, {true, kArNone, "-1"},
      {false, kArNormal, "2"},   {false, kArTimeout, "2"}, {false, kArDisabled, "2"}};
  for (const auto& k : cases) {
    d.check(0).conf.ar->has_resolve = k.has_resolve;
    d.check(0).state = k.state;
    ASSERT_EQ(run("ups_status", {"ups1", no, no, "OL", no, no}), 0);
    EXPECT_EQ(argv.at(5), k.slot) << k.has_resolve << " " << k.state;
  }
  // A kind without a script, and one whose arguments cannot be built (no data period).
  EXPECT_EQ(run("routeddata", {"x", no, no, "1", no, no}), -1);
  EXPECT_EQ(1, d.logged_at(kLogFatal, "No snmp alert script for routeddata checks"));
  EXPECT_EQ(run("celldata", {"modem", no, no, "100", no, no}), -1);
  EXPECT_EQ(1, d.logged_at(kLogFatal, "Error generating script arguments"));
  d.check(0).current_event.reset();  // then the time is now's
  d.clock.wall = 1704067199;          // the last second of 2023
  ASSERT_EQ(run("ups_status", {"ups1", no, no, "OL", no, no}), 0);
  EXPECT_EQ(argv.at(4), "07e70c1f173b3b002b0000");
}

TEST_F(SnmpAction, CliEventsOfKnownServicesOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"LOGOUT: root:sshd:/bin/bash:192.0.2.9", "SSH Service"},
      {"LOGIN: root:login:/bin/bash:ttyS0", "CLI Shell"},
      {"AUTH ERROR: root:login:/bin/bash:ttyS0", "Login Prompt"},
      {"LOGIN: root:sshd:/bin/pmshell:192.0.2.9", "Filtering CLI event LOGIN for service sshd"},
      {"LOGIN: root:telnetd:/bin/bash:192.0.2.9", "Filtering CLI event LOGIN for service telnetd"},
      {"SU: root:sshd:/bin/bash:x", "Filtering CLI event SU for service sshd"},
      {"LOGIN: root", "Filtering CLI event LOGIN for service "},
  };
  for (const auto& [value, expected] : cases) {
    const int result = run("cli_login", {no, no, no, value, "N/A", no});  // 1: skipped, not failed
    const bool filtered = result == 1 && d.logged_at(kLogInfo, expected) && d.spawner.starts.empty();
    EXPECT_TRUE(result == 0 ? argv.at(8) == expected : filtered) << value;
  }
}

TEST(SnmpFields, LoginFieldsPortsAndReadings) {
  const std::pair<const char*, const char*> web[] = {
      {"LOGIN: admin:192.0.2.4:https", "LOGIN|admin|192.0.2.4|https"},
      {"AUTH ERROR: bob:[2001:db8::7]:8443:more", "AUTH ERROR|bob|[2001:db8::7]|8443"},  // brackets keep colons
      {"LOGIN: u:[fe80::1]%eth0:x", "LOGIN|u|[fe80::1]%eth0|x"}, {"LOGOUT", "LOGOUT|unknown|unknown|"},
      {"LOGIN: u:[2001:db8::7:more", "LOGIN|u|unknown|"}, {":::", "UNKNOWN|unknown|unknown|"},  // never closed
      {"LOGIN:  two", "LOGIN| two|unknown|"}, {"LOGIN: :x", "LOGIN| |x|"},  // one leading space dropped, at most
  };
  for (const auto& [value, fields] : web) {
    const WebLoginFields f = parse_web_login(value);
    EXPECT_EQ(f.event + "|" + f.user + "|" + f.address + "|" + f.detail, fields);
  }
  const std::pair<const char*, int32_t> ports[] = {
      {"config.ports.port4", 4}, {"config.ports.port12.signal", 12}, {"config.ports.port -3", -3},
      {"config.ports.port2147483647", INT32_MAX}, {"config.ports.port-2147483648", INT32_MIN},
      {"config.ports.port2147483648", 0}, {"config.ports.port-2147483649", 0},
      {"config.ports.port99999999999999999999999", 0}, {"config.ports.portx", 0}, {"xconfig.ports.port4", 0}};
  for (const auto& [ref, n] : ports) EXPECT_EQ(snmp_port_number(ref), n) << ref;
  const std::pair<const char*, int32_t> readings[] = {
      {"23.7", 23}, {"-1.5", -1}, {"  42degC", 42}, {"warm", 0}, {"", 0}, {"1e10", INT32_MAX},
      {"-1e10", INT32_MIN}, {"inf", INT32_MAX}, {"-inf", INT32_MIN}, {"1e999", INT32_MAX}, {"nan", 0}, {"-nan", 0}};
  for (const auto& [reading, n] : readings) EXPECT_EQ(snmp_value_int(reading), n) << reading;
}

