// The SNMP alert action: the script and full argument vector of every kind
// of check, built from describing operations this test controls; the
// common head (rule, reference, time, state); the CLI filter; and the
// failures, each of which must leave the rule's other actions running.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "actions/action_ops.h"
#include "actions/queue.h"
#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/log.h"
#include "engine/state.h"
#include "support/action_rules.h"
#include "support/test_daemon.h"
#include "support/zone_guard.h"

using namespace action_rules;
using Strings = std::vector<std::string>;

namespace {

// --- describing operations under the test's control -------------------------

// What the fake operations answer: a result and the six outputs.
struct FakeAnswers {
  OptionalText device, label, dev_ref, value, property, trigger;
  int device_result = 0;
  int trigger_result = 0;
};

FakeAnswers g_answers;

// Triggers on every update while Normal, like a check whose condition holds.
int fake_on_event(ArCheck* check) {
  CheckEventPtr event = check_take_event(check);
  if (event && check->state == kArNormal) ar_trigger(check, std::move(event));
  return 0;
}

int fake_describe_device(ArCheck*, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  if (g_answers.device_result != 0) return g_answers.device_result;
  if (device != nullptr) *device = g_answers.device;
  if (label != nullptr) *label = g_answers.label;
  if (dev_ref != nullptr) *dev_ref = g_answers.dev_ref;
  return 0;
}

int fake_describe_trigger(ArCheck*, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (g_answers.trigger_result != 0) return g_answers.trigger_result;
  if (value != nullptr) *value = g_answers.value;
  if (property != nullptr) *property = g_answers.property;
  if (trigger != nullptr) *trigger = g_answers.trigger;
  return 0;
}

int fake_subscription_key(ArCheck*, std::string*) { return -1; }

const CheckOps kFakeOps = {fake_on_event, fake_describe_device, fake_describe_trigger, fake_subscription_key};

// 14 November 2023, 22:13:20.6 UTC.
constexpr uint64_t kEventMs = 1700000000600ULL;
const std::string kEventDate = "07e70b0e160d14062b0000";

class SnmpAction : public ::testing::Test {
 protected:
  void SetUp() override { g_answers = FakeAnswers{}; }

  // Loads the sensor rule with its "snmp" trigger action, then turns it into
  // a rule of check_type (with settings) answered by the fake operations:
  // Triggered, with an event of kEventMs.
  ArCheck& rule(const std::string& check_type, ConfigBuilder config = sensor_rule("snmp")) {
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    config.set(kRule + ".check_type", check_type);
    d.write_config(config);
    d.take_sent();
    // Room for every start a test makes, so each one is seen at once.
    d.ctx.concurrent_actions = 1000;
    ArCheck& check = d.check(0);
    check.ops = &kFakeOps;
    check.state = kArTriggered;
    check.current_event = std::make_unique<CheckEvent>();
    check.current_event->key = kSensorKey;
    check.current_event->field4 = kEventMs;
    check.current_event->value = "event";
    return check;
  }

  // Queues the rule's snmp action as the queueing step would.
  int run(ArCheck& check) { return queue_snmp_action(&check, &check.trigger_actions[0]); }

  // The argument vector of the one start, after checking the script and
  // that no environment was given.
  Strings started(const std::string& script) {
    EXPECT_EQ(d.spawner.starts.size(), 1u);
    if (d.spawner.starts.empty()) return {};
    const FakeSpawner::Start& start = d.spawner.starts.front();
    EXPECT_EQ(start.path, d.paths.scripts_dir + script);
    EXPECT_FALSE(start.has_envp);
    return start.argv;
  }

  // The head every builder puts in slots 0 to 5.
  static Strings head(const std::string& script, const std::string& state = "2") {
    return {script, "snmp", "1", "1", kEventDate, state};
  }

  static Strings with(Strings head, const Strings& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  }

  bool logged_exactly(int priority, const std::string& text) const {
    for (const LogRecord& r : d.logs) {
      if (r.priority == priority && r.text == text) return true;
    }
    return false;
  }

  ZoneGuard zone{"UTC0"};
  TestDaemon d;
};

// --- one row of the script table each -------------------------------------------

const OptionalText no;

// One kind of check: its settings, what the describing operations answer
// and the slots expected after the common head.
struct ScriptCase {
  const char* check_type;
  const char* script;
  std::vector<std::pair<std::string, std::string>> settings;
  FakeAnswers answers;
  Strings tail;
};

const ScriptCase kScriptCases[] = {
    {"environmental", "environmental-alert", {{"enviro.trigger_val", "25"}, {"enviro.comparison", "lesser"}},
     {"Sensor 1", "Temperature", no, "23.7", "temp", no},
     {"Sensor 1", "Temperature", "temp", "23", "25", "lesser"}},
    {"alarm", "dio-alert", {}, {"IO Box", "Door contact", no, "1", no, no}, {"Door contact", "1", "1", "IO Box"}},
    {"power", "power-alert", {{"power.trigger_val", "10"}, {"power.comparison", "greater"}},
     {"PSU A", "Power Supply", no, "-1.5", "current", no},
     {"PSU A", "Power Supply", "current", "-1", "10", "greater"}},
    {"serial_pattern", "portmanager-pattern-alert", {},
     {"Console 4", no, "config.ports.port4", "ERROR disk", no, no}, {"door1", "4", "Console 4", "ERROR disk"}},
    {"serial_signal", "portmanager-signal-alert", {}, {"Console 4", no, "config.ports.port4", "0", "DCD", "1"},
     {"4", "Console 4", "DCD", "0", "1"}},
    {"serial_login", "portmanager-user-alert", {}, {"Console 7", no, "config.ports.port7", "LOGIN: root", no, no},
     {"LOGIN", "7", "Console 7", "root"}},
    {"ups_status", "ups-status-alert", {}, {"ups1", no, no, "ONBATT", no, no}, {"ups1", "ONBATT"}},
    {"celldata", "devlog-data-alert", {{"celldata.data_period", "30"}, {"celldata.data_limit", "1000"}},
     {"Cellular", no, no, "1200", no, no}, {"Cellular", "1200", "30", "1000"}},
    {"net_ping", "host-alert", {}, {"gateway", no, "config.hosts.gw", "lost", "ping", "3"},
     {"gateway", "ping", "lost", "3"}},
    {"custom", "custom-alert", {{"custom.script", "/etc/scripts/check-disk"}}, {no, no, no, "2", no, "0"},
     {"/etc/scripts/check-disk", "2", "0"}},
    {"sms", "sms-alert", {}, {no, no, no, "reboot now", "+61400000000", "reboot.*"},
     {"reboot now", "+61400000000", "reboot.*"}},
    {"webui_login", "webui-user-alert", {}, {no, no, no, "LOGIN: admin:[2001:db8::7]:https", "N/A", "N/A"},
     {"LOGIN", "admin", "[2001:db8::7]", "https"}},
    {"conman", "network-interface-alert", {},
     {"eth0", "Network Interface", "config.interfaces.wan", "down", "status", "down"},
     {"eth0", "Network Interface", "status", "down", "down"}},
    {"cli_login", "cli-user-alert", {}, {no, no, no, "LOGIN: root:sshd:/bin/bash:192.0.2.9", "N/A", "N/A"},
     {"LOGIN", "root", "SSH Service", "192.0.2.9"}},
};

class SnmpScripts : public SnmpAction, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(SnmpScripts, RunsTheScriptWithEverySlotInPlace) {
  const ScriptCase& k = GetParam();
  ConfigBuilder config = sensor_rule("snmp");
  for (const auto& [key, value] : k.settings) config.set(kRule + "." + key, value);
  ArCheck& c = rule(k.check_type, config);
  g_answers = k.answers;
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started(k.script), with(head(k.script), k.tail));
  EXPECT_EQ(c.trigger_actions[0].status, kActionQueued);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, SnmpScripts, ::testing::ValuesIn(kScriptCases),
                         [](const ::testing::TestParamInfo<ScriptCase>& param) {
                           return std::string(param.param.check_type);
                         });

TEST_F(SnmpAction, AlarmValueOtherThanZeroOrOneIsReportedAsMinusOne) {
  ArCheck& c = rule("alarm");
  g_answers = {"IO Box", "Door contact", no, "2", no, no};
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started("dio-alert"), with(head("dio-alert"), {"Door contact", "2", "-1", "IO Box"}));
  EXPECT_TRUE(logged_exactly(kLogError, "DIO value should be 0 or 1: 2"));
}

TEST_F(SnmpAction, WebLoginWithOnlyTheEventWord) {
  ArCheck& c = rule("webui_login");
  g_answers = {no, no, no, "LOGOUT", "N/A", no};
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started("webui-user-alert"), with(head("webui-user-alert"), {"LOGOUT", "unknown", "unknown", ""}));
}

// --- the common head ---------------------------------------------------------------

TEST_F(SnmpAction, HeadCarriesRuleAndReferenceNumbers) {
  ArCheck& c = rule("ups_status");
  c.ar->index = 12;
  c.ref_index = 3;
  g_answers = {"ups1", no, no, "OL", no, no};
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started("ups-status-alert"),
            (Strings{"ups-status-alert", "snmp", "12", "3", kEventDate, "2", "ups1", "OL"}));
}

TEST_F(SnmpAction, StateSlotFollowsTheReference) {
  ArCheck& c = rule("ups_status");
  g_answers = {"ups1", no, no, "OL", no, no};
  c.state = kArResolving;
  ASSERT_EQ(run(c), 0);
  c.state = kArNone;  // not one of the five states
  ASSERT_EQ(run(c), 0);
  ASSERT_EQ(d.spawner.starts.size(), 2u);
  EXPECT_EQ(d.spawner.starts[0].argv[5], "3");
  EXPECT_EQ(d.spawner.starts[1].argv[5], "-1");
}

TEST_F(SnmpAction, RulesWithoutResolveAlwaysReportTriggered) {
  ArCheck& c = rule("sms");
  c.ar->has_resolve = false;
  g_answers = {no, no, no, "reboot", "+61400000000", "reboot"};
  for (const ArCheckState state : {kArNormal, kArTriggered, kArTimeout, kArDisabled}) {
    c.state = state;
    ASSERT_EQ(run(c), 0);
  }
  ASSERT_EQ(d.spawner.starts.size(), 4u);
  for (const auto& start : d.spawner.starts) EXPECT_EQ(start.argv[5], "2");
}

TEST_F(SnmpAction, WithoutAnEventTheTimeIsNow) {
  ArCheck& c = rule("custom");
  c.current_event.reset();
  g_answers = {no, no, no, "1", no, no};
  d.clock.wall = 1704067199;  // the last second of 2023
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started("custom-alert")[4], "07e70c1f173b3b002b0000");
}

TEST_F(SnmpAction, TheTimeIsTheDeliveredUpdatesTime) {
  d.write_config(sensor_rule("snmp"));
  ASSERT_EQ(d.load(), 0);
  d.check(0).ops = &kFakeOps;
  g_answers = {"Sensor 1", "Temperature", no, "35", "temp", no};
  // 4 December 2026, 06:30:27.5 UTC.
  ASSERT_EQ(d.deliver(kSensorKey, kHot, 1796365827500ULL), 0);
  const Strings argv = started("environmental-alert");
  ASSERT_EQ(argv.size(), 12u);
  EXPECT_EQ(argv[4], "07ea0c04061e1b052b0000");
  EXPECT_EQ(argv[5], "2");
  EXPECT_EQ(argv[9], "35");
  EXPECT_EQ(argv[10], "30");
}

// --- values converted for the scripts ------------------------------------------------

TEST_F(SnmpAction, ReadingsAreClampedWholeNumbers) {
  ArCheck& c = rule("environmental");
  g_answers = {"Sensor 1", "Temperature", no, no, "temp", no};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1e10", "2147483647"}, {"inf", "2147483647"}, {"-inf", "-2147483648"}, {"nan", "0"}, {"-1.5", "-1"}};
  for (const auto& [reading, expected] : cases) {
    g_answers.value = reading;
    ASSERT_EQ(run(c), 0) << reading;
    EXPECT_EQ(d.spawner.starts.back().argv[9], expected) << reading;
  }
}

TEST_F(SnmpAction, PortNumbersOfAbsentForeignOrOversizedReferencesAreZero) {
  ArCheck& c = rule("serial_signal");
  g_answers = {"Console", no, no, "1", "DSR", no};
  for (const OptionalText& ref : {no, OptionalText("config.ports.port99999999999"),
                                  OptionalText("config.sdt.hosts.host4")}) {
    g_answers.dev_ref = ref;
    ASSERT_EQ(run(c), 0);
    EXPECT_EQ(d.spawner.starts.back().argv[6], "0") << ref.value_or("(absent)");
  }
}

// --- texts that are missing ------------------------------------------------------------

TEST_F(SnmpAction, OptionalTextsMissingKeepTheLaterSlotsInPlace) {
  ArCheck& c = rule("conman");
  g_answers = {"eth0", "Network Interface", no, "down", no, no};  // no property, trigger or reference
  ASSERT_EQ(run(c), 0);
  EXPECT_EQ(started("network-interface-alert"),
            with(head("network-interface-alert"), {"eth0", "Network Interface", "", "down", ""}));
}

TEST_F(SnmpAction, RequiredTextMissingFailsTheAction) {
  struct Case {
    const char* check_type;
    void (*drop)(FakeAnswers*);
  };
  const Case cases[] = {
      {"environmental", [](FakeAnswers* a) { a->label.reset(); }},
      {"alarm", [](FakeAnswers* a) { a->device.reset(); }},
      {"serial_pattern", [](FakeAnswers* a) { a->value.reset(); }},
      {"sms", [](FakeAnswers* a) { a->trigger.reset(); }},
      {"webui_login", [](FakeAnswers* a) { a->property.reset(); }},
      {"cli_login", [](FakeAnswers* a) { a->value.reset(); }},
      {"ups_status", [](FakeAnswers* a) { a->device_result = -1; }},
      {"custom", [](FakeAnswers* a) { a->trigger_result = -1; }},
  };
  for (const Case& k : cases) {
    ArCheck& c = rule(k.check_type);
    // Everything present, then the one text or operation taken away.
    g_answers = {"Dev", "Label", "config.ports.port1", "LOGIN: a:sshd:/bin/sh:x", "p", "t"};
    k.drop(&g_answers);
    d.logs.clear();
    EXPECT_EQ(run(c), -1) << k.check_type;
    EXPECT_TRUE(logged_exactly(kLogFatal, "Error generating script arguments")) << k.check_type;
    EXPECT_NE(c.trigger_actions[0].status, kActionQueued) << k.check_type;
    unload_config(&d.ctx);
  }
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpAction, SerialLoginNeedsBothWords) {
  ArCheck& c = rule("serial_login");
  g_answers = {"Console", no, no, "LOGIN:", no, no};
  EXPECT_EQ(run(c), -1);
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpAction, ReadingWithoutTriggerValueFails) {
  ArCheck& c = rule("power");  // the sensor rule has no power.trigger_val
  g_answers = {"PSU", "Power", no, "3", "volts", no};
  EXPECT_EQ(run(c), -1);
  EXPECT_TRUE(logged_exactly(kLogFatal, "Could not find trigger value for " + kRule));
  EXPECT_TRUE(logged_exactly(kLogFatal, "Error generating script arguments"));
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpAction, CellularDataWithoutLimitFails) {
  ArCheck& c = rule("celldata", sensor_rule("snmp").set(kRule + ".celldata.data_period", "30"));
  g_answers = {"Cellular", no, no, "1200", no, no};
  EXPECT_EQ(run(c), -1);
  EXPECT_TRUE(d.spawner.starts.empty());
}

// --- kinds of check without a script ----------------------------------------------------

TEST_F(SnmpAction, KindsWithoutAScriptFail) {
  for (const char* type : {"usb_console_status", "routeddata", "net_tcp", ""}) {
    ArCheck& c = rule(type);
    EXPECT_EQ(run(c), -1) << type;
    EXPECT_TRUE(logged_exactly(kLogFatal, std::string("No snmp alert script for ") + type + " checks")) << type;
    unload_config(&d.ctx);
  }
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpAction, KindWithoutAScriptIsDroppedByTheQueueingStep) {
  ConfigBuilder config = sensor_rule("snmp");
  d.write_config(config);
  ASSERT_EQ(d.load(), 0);
  d.write_config(config.set(kRule + ".check_type", "routeddata"));
  d.check(0).ops = &kFakeOps;
  d.take_sent();
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
}

// --- failures leave the other actions alone -------------------------------------------------

TEST_F(SnmpAction, FailingBuilderDoesNotStopTheNextAction) {
  ConfigBuilder config = sensor_rule("snmp");
  config.set(kRule + ".trigger_actions.total", 2)
      .set(kRule + ".trigger_actions.action2.name", "io")
      .set(kRule + ".trigger_actions.action2.action_type", "dio")
      .set(kRule + ".trigger_actions.action2.dio.pin", "3")
      .set(kRule + ".trigger_actions.action2.dio.value", "1");
  d.write_config(config);
  ASSERT_EQ(d.load(), 0);
  d.check(0).ops = &kFakeOps;
  g_answers = {"Sensor 1", no, no, "35", "temp", no};  // no label: the builder fails
  d.take_sent();
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  EXPECT_TRUE(logged_exactly(kLogFatal, "Error generating script arguments"));
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  ASSERT_EQ(d.spawner.starts.size(), 1u);
  EXPECT_EQ(d.spawner.starts[0].path, d.paths.ioc);
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
  EXPECT_EQ(d.check(0).trigger_actions[1].status, kActionQueued);
}

TEST_F(SnmpAction, FullQueueFailsTheAction) {
  ArCheck& c = rule("ups_status");
  g_answers = {"ups1", no, no, "OL", no, no};
  for (int i = 0; i <= kMaxQueuedActions; ++i) {
    ASSERT_EQ(queue_action(&c, &c.trigger_actions[0], "/bin/true", {"true"}, {}, 0), 0);
  }
  const size_t started_before = d.spawner.starts.size();
  EXPECT_EQ(run(c), -1);
  EXPECT_TRUE(logged_exactly(kLogFatal, "Could not execute action: act"));
  EXPECT_EQ(d.spawner.starts.size(), started_before);
  EXPECT_EQ(d.ctx.queued_actions, kMaxQueuedActions + 1);
}

// --- the CLI filter ------------------------------------------------------------------------------

class SnmpCliFilter : public SnmpAction {
 protected:
  // Runs a CLI rule with value; the label slot when queued, else "".
  std::string label_for(const std::string& value, int expected_result) {
    if (d.ctx.checks.empty()) rule("cli_login");
    ArCheck& c = d.check(0);
    g_answers = {no, no, no, value, "N/A", no};
    const size_t before = d.spawner.starts.size();
    EXPECT_EQ(run(c), expected_result) << value;
    if (d.spawner.starts.size() == before) return "";
    return d.spawner.starts.back().argv.at(8);
  }
};

TEST_F(SnmpCliFilter, LabelsOfTheKnownServices) {
  EXPECT_EQ(label_for("LOGIN: root:sshd:/bin/bash:192.0.2.9", 0), "SSH Service");
  EXPECT_EQ(label_for("LOGOUT: root:sshd:/bin/bash:192.0.2.9", 0), "SSH Service");
  EXPECT_EQ(label_for("AUTH ERROR: root:sshd:/bin/bash:192.0.2.9", 0), "SSH Service");
  EXPECT_EQ(label_for("LOGIN: root:login:/bin/bash:ttyS0", 0), "CLI Shell");
  EXPECT_EQ(label_for("AUTH ERROR: root:login:/bin/bash:ttyS0", 0), "Login Prompt");
}

TEST_F(SnmpCliFilter, PortManagerShellIsFiltered) {
  EXPECT_EQ(label_for("LOGIN: root:sshd:/bin/pmshell:192.0.2.9", 1), "");
  EXPECT_TRUE(logged_exactly(kLogInfo, "Filtering CLI event LOGIN for service sshd"));
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpCliFilter, UnknownServicesAndEventsAreFiltered) {
  EXPECT_EQ(label_for("LOGIN: root:telnetd:/bin/bash:192.0.2.9", 1), "");
  EXPECT_TRUE(logged_exactly(kLogInfo, "Filtering CLI event LOGIN for service telnetd"));
  EXPECT_EQ(label_for("SU: root:sshd:/bin/bash:x", 1), "");
  EXPECT_TRUE(logged_exactly(kLogInfo, "Filtering CLI event SU for service sshd"));
  EXPECT_TRUE(d.spawner.starts.empty());
}

TEST_F(SnmpCliFilter, MissingServiceIsLoggedAsEmpty) {
  EXPECT_EQ(label_for("LOGIN: root", 1), "");
  EXPECT_TRUE(logged_exactly(kLogInfo, "Filtering CLI event LOGIN for service "));
}

TEST_F(SnmpCliFilter, FilteredEventIsReportedAsSkipped) {
  ConfigBuilder config = sensor_rule("snmp");
  d.write_config(config);
  ASSERT_EQ(d.load(), 0);
  d.write_config(config.set(kRule + ".check_type", "cli_login"));
  d.check(0).ops = &kFakeOps;
  g_answers = {no, no, no, "LOGIN: root:telnetd:/bin/bash:192.0.2.9", "N/A", no};
  d.take_sent();
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, skipped"));
  EXPECT_TRUE(d.spawner.starts.empty());
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
}

}  // namespace
