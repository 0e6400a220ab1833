// The serial signal, login and pattern checks: subscriptions per device
// reference, signal levels against the trigger value, on-change mode,
// trigger-only login and pattern rules, rejection at creation and the
// describing texts.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "config/archeck.h"
#include "core/check_event.h"
#include "core/log.h"
#include "support/check_probe.h"
#include "support/check_pushes.h"
#include "support/test_daemon.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kRule1 = probe_rule_path(1);
const std::string kPort1 = "config.ports.port1";
const std::string kPort2 = "config.ports.port2";

// Rule n of check_type with its ports as dev_ref1, dev_ref2, ...; returns
// the prefix of its settings.
std::string add_serial(ConfigBuilder& c, int n, const std::string& check_type, const std::string& domain,
                       const Strings& ports) {
  probe_rule(c, n, check_type);
  const std::string p = probe_rule_path(n) + "." + domain + ".";
  c.set(p + "dev_refs.total", static_cast<long>(ports.size()));
  for (size_t i = 0; i < ports.size(); ++i) c.set(p + "dev_refs.dev_ref" + std::to_string(i + 1), ports[i]);
  return p;
}

void add_signal(ConfigBuilder& c, int n, const std::string& signal, const std::string& trigger,
                const Strings& ports = {kPort1}) {
  const std::string p = add_serial(c, n, "serial_signal", "serial.signal", ports);
  c.set(p + "signal", signal).set(p + "trigger_val", trigger);
}

void add_login(ConfigBuilder& c, int n, bool login, bool logout, const Strings& ports = {kPort1}) {
  const std::string p = add_serial(c, n, "serial_login", "serial.login", ports);
  c.set(p + "trigger_login", login ? "on" : "off").set(p + "trigger_logout", logout ? "on" : "off");
}

void add_pattern(ConfigBuilder& c, int n, const std::string& pattern, bool tx, bool rx,
                 const Strings& ports = {kPort1}) {
  const std::string p = add_serial(c, n, "serial_pattern", "serial.pattern", ports);
  c.set(p + "pattern", pattern).set(p + "trigger_tx", tx ? "on" : "off").set(p + "trigger_rx", rx ? "on" : "off");
}

class SerialCheck : public ::testing::Test {
 protected:
  void load(ConfigBuilder& c, int rules) {
    c.set("config.autoresponse.total", rules);
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    d.take_sent();
  }
  void deliver(const std::string& key, const std::string& value) {
    EXPECT_EQ(0, d.deliver(key, value));
    sent = d.take_sent();
  }
  TestDaemon d;
  std::vector<SentMessage> sent;
};

TEST_F(SerialCheck, SignalSubscribesOnEachReferencesOwnPort) {
  ConfigBuilder c;
  add_signal(c, 1, "dcd", "1", {kPort1, kPort2});
  load(c, 1);
  ASSERT_EQ(2u, d.ctx.checks.size());
  EXPECT_EQ(kPort1 + ".serial.event.signal.dcd", d.check(0).subscription);
  EXPECT_EQ(kPort2 + ".serial.event.signal.dcd", d.check(1).subscription);
  deliver(kPort2 + ".serial.event.signal.dcd", "1");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1, 2));
  EXPECT_EQ(kArNormal, d.check(0).state);
}

TEST_F(SerialCheck, SignalTriggersAtItsValueRefreshesAndResolvesWhenItLeavesIt) {
  const std::string key = kPort1 + ".serial.event.signal.dcd";
  ConfigBuilder c;
  add_signal(c, 1, "dcd", "1");
  load(c, 1);
  deliver(key, "0");
  EXPECT_TRUE(sent.empty());
  deliver(key, "1");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 1 vs trigger 1"));
  deliver(key, "1");
  EXPECT_TRUE(probe_states(sent, 1).empty());
  EXPECT_EQ(Strings{"1"}, probe_values(sent, 1));
  deliver(key, "0");
  EXPECT_EQ((Strings{"Resolving", "Normal"}), probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 0 vs 1"));
}

TEST_F(SerialCheck, SignalTriggerValueZeroTakesTextAsLevelZeroAndResolvesOnAnyOtherLevel) {
  const std::string key = kPort1 + ".serial.event.signal.cts";
  ConfigBuilder c;
  add_signal(c, 1, "cts", "0");
  load(c, 1);
  deliver(key, "2");
  EXPECT_TRUE(sent.empty());
  deliver(key, "high");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  deliver(key, "2");
  EXPECT_EQ((Strings{"Resolving", "Normal"}), probe_states(sent, 1));
}

TEST_F(SerialCheck, SignalOnChangeTriggersOnEveryLevelAndReportsNoTriggerValue) {
  const std::string key = kPort1 + ".serial.event.signal.dsr";
  ConfigBuilder c;
  add_signal(c, 1, "dsr", "1");
  c.set(kRule1 + ".serial.signal.trigger_on_change", "on");
  probe_hold_triggered(c, 1);
  load(c, 1);
  for (const char* level : {"0", "1", "0"}) {
    deliver(key, level);
    EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1)) << level;
  }
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 0 vs trigger 1"));
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("0", t.first);
  EXPECT_EQ("3", t.second);
  EXPECT_EQ("N/A", t.third);
}

TEST_F(SerialCheck, SignalNameInCapitalsKeysCaseSensitivelyButReportsItsNumber) {
  ConfigBuilder c;
  add_signal(c, 1, "DCD", "1");
  load(c, 1);
  EXPECT_EQ(kPort1 + ".serial.event.signal.DCD", d.check(0).subscription);
  EXPECT_EQ(0, check_append_event(&d.check(0), (kPort1 + ".serial.event.signal.dcd").c_str(), 0, 0, "1"));
  EXPECT_EQ(kArNormal, d.check(0).state);
  deliver(kPort1 + ".serial.event.signal.DCD", "1");
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("1", t.first);
  EXPECT_EQ("2", t.second);
  EXPECT_EQ("1", t.third);
}

TEST_F(SerialCheck, SignalNumbersFollowTheTable) {
  const std::pair<std::string, std::string> numbers[] = {{"cts", "1"}, {"Dcd", "2"}, {"DSR", "3"}, {"ri", "0"}};
  ConfigBuilder c;
  int n = 0;
  for (const auto& entry : numbers) {
    ++n;
    add_signal(c, n, entry.first, "1", {"config.ports.port" + std::to_string(n)});
  }
  load(c, n);
  for (size_t i = 0; i < 4; ++i) {
    deliver(d.check(i).subscription, "1");
    EXPECT_EQ(numbers[i].second, describe_trigger_of(d.check(i)).second) << numbers[i].first;
  }
}

TEST_F(SerialCheck, SignalRejectsAMissingSignalOrAReferenceWithoutPort) {
  ConfigBuilder c;
  add_signal(c, 1, "", "1");
  add_signal(c, 2, "cts", "1");
  c.set(probe_rule_path(2) + ".serial.signal.dev_refs.total", 2);
  load(c, 2);
  ASSERT_EQ(1u, d.ctx.checks.size());
  EXPECT_EQ(1u, d.check(0).ref_index);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or signal for AR: rule1"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or signal for AR: rule2"));
}

TEST_F(SerialCheck, EveryKindDescribesItsReferencesPortAndLabel) {
  ConfigBuilder c;
  add_signal(c, 1, "cts", "1", {kPort1, kPort2});
  add_login(c, 2, true, true, {kPort1, kPort2});
  add_pattern(c, 3, "panic", true, true, {kPort1, kPort2});
  c.set(kPort2 + ".label", "Router console");
  load(c, 3);
  ASSERT_EQ(6u, d.ctx.checks.size());
  for (size_t i = 0; i < 6; i += 2) {
    SCOPED_TRACE(i);
    Described dev = describe_device_of(d.check(i));
    EXPECT_EQ(0, dev.result);
    EXPECT_EQ("", dev.first);  // no label
    EXPECT_EQ("Serial Port", dev.second);
    EXPECT_EQ(kPort1, dev.third);
    dev = describe_device_of(d.check(i + 1));
    EXPECT_EQ("Router console", dev.first);
    EXPECT_EQ(kPort2, dev.third);
  }
  c.set(kRule1 + ".serial.signal.dev_refs.dev_ref1", "")
      .set(probe_rule_path(2) + ".serial.login.dev_refs.dev_ref1", "")
      .set(probe_rule_path(3) + ".serial.pattern.dev_refs.dev_ref1", "");
  d.write_config(c);
  for (size_t i = 0; i < 6; i += 2) {
    const Described dev = describe_device_of(d.check(i));
    EXPECT_EQ(-1, dev.result);
    EXPECT_FALSE(dev.first || dev.second || dev.third);
    EXPECT_EQ(0, describe_device_of(d.check(i + 1)).result);
    EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port settings for AR: rule" + std::to_string(i / 2 + 1)));
  }
}

TEST_F(SerialCheck, LoginSubscriptionFollowsItsFlagsAndNeedsAPort) {
  ConfigBuilder c;
  add_login(c, 1, true, true);
  add_login(c, 2, true, false);
  add_login(c, 3, false, true, {kPort2});
  add_login(c, 4, false, false);
  add_login(c, 5, true, false, {""});
  load(c, 5);
  ASSERT_EQ(3u, d.ctx.checks.size());
  EXPECT_EQ(kPort1 + ".serial.event.user", d.check(0).subscription);
  EXPECT_EQ(kPort1 + ".serial.event.user.login", d.check(1).subscription);
  EXPECT_EQ(kPort2 + ".serial.event.user.logout", d.check(2).subscription);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or trigger settings for AR: rule4"));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or trigger settings for AR: rule5"));
}

TEST_F(SerialCheck, LoginTriggersOnItsFlagsOnlyAndDropsEverythingWhileTriggered) {
  ConfigBuilder c;
  add_login(c, 1, false, true);
  add_login(c, 2, true, false);
  probe_hold_triggered(c, 1);
  probe_hold_triggered(c, 2);
  load(c, 2);
  EXPECT_EQ(-1, describe_trigger_of(d.check(0)).result);
  EXPECT_EQ(0, check_append_event(&d.check(0), (kPort1 + ".serial.event.user.login").c_str(), 0, 0, "alice"));
  EXPECT_EQ(kArNormal, d.check(0).state);

  deliver(kPort1 + ".serial.event.user.logout", "bob");
  deliver(kPort1 + ".serial.event.user.login", "alice");
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val bob"));
  Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("LOGOUT: bob", t.first);
  EXPECT_EQ("N/A", t.second);
  EXPECT_EQ("N/A", t.third);
  EXPECT_EQ("LOGIN: alice", describe_trigger_of(d.check(1)).first);

  deliver(kPort1 + ".serial.event.user.logout", "carol");
  deliver(kPort1 + ".serial.event.user.login", "dave");
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ("LOGOUT: bob", describe_trigger_of(d.check(0)).first);
}

TEST_F(SerialCheck, PatternKeyCarriesTheRuleNumberNotTheReferenceIndex) {
  ConfigBuilder c;
  add_pattern(c, 4, "panic", false, true, {kPort1, kPort2});
  add_pattern(c, 5, "oops", true, false);
  add_pattern(c, 6, "boot", true, true);
  load(c, 6);
  ASSERT_EQ(4u, d.ctx.checks.size());
  EXPECT_EQ(kPort1 + ".serial.event.pattern4.rx", d.check(0).subscription);
  EXPECT_EQ(kPort2 + ".serial.event.pattern4.rx", d.check(1).subscription);
  EXPECT_EQ(kPort1 + ".serial.event.pattern5.tx", d.check(2).subscription);
  EXPECT_EQ(kPort1 + ".serial.event.pattern6", d.check(3).subscription);
}

TEST_F(SerialCheck, PatternRejectsMissingPortPatternOrDirection) {
  ConfigBuilder c;
  add_pattern(c, 1, "", true, true);
  add_pattern(c, 2, "panic", false, false);
  add_pattern(c, 3, "panic", true, true, {""});
  load(c, 3);
  EXPECT_TRUE(d.ctx.checks.empty());
  for (int n = 1; n <= 3; ++n) {
    EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or pattern for AR: rule" + std::to_string(n)));
  }
}

TEST_F(SerialCheck, PatternTriggersOnAnyReportAndDropsEverythingWhileTriggered) {
  ConfigBuilder c;
  add_pattern(c, 1, "kernel panic", true, true);
  probe_hold_triggered(c, 1);
  load(c, 1);
  EXPECT_EQ(-1, describe_trigger_of(d.check(0)).result);
  deliver(kPort1 + ".serial.event.pattern1.rx", "kernel panic - not syncing");
  EXPECT_EQ(Strings{"Triggered"}, probe_states(sent, 1));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val kernel panic - not syncing"));
  deliver(kPort1 + ".serial.event.pattern1.tx", "kernel panic");
  EXPECT_TRUE(sent.empty());
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(0, t.result);
  EXPECT_EQ("kernel panic - not syncing", t.first);
  EXPECT_EQ("N/A", t.second);
  EXPECT_EQ("kernel panic", t.third);
}

}  // namespace
