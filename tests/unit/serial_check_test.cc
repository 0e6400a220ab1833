// The serial signal, login and pattern checks: subscriptions per device reference, levels,
// on-change mode, trigger-only rules, rejection at creation and the port descriptions.
#include <gtest/gtest.h>

#include <string>

#include "core/check_event.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kPort1 = "config.ports.port1";
const std::string kPort2 = "config.ports.port2";

// Rule n of type serial_<domain> with ports as its references and settings under its domain.
void add_serial(ConfigBuilder& c, int n, const std::string& domain, const Strings& ports, const Pushes& settings) {
  probe_rule(c, n, "serial_" + domain);
  const std::string p = probe_rule_path(n) + ".serial." + domain + ".";
  c.set(p + "dev_refs.total", static_cast<long>(ports.size()));
  for (size_t i = 0; i < ports.size(); ++i) c.set(p + "dev_refs.dev_ref" + std::to_string(i + 1), ports[i]);
  for (const auto& [key, value] : settings) c.set(p + key, value);
}

using SerialCheck = CheckTest;

TEST_F(SerialCheck, SignalLevelsOnEachReferencesOwnPort) {
  add_serial(c, 1, "signal", {kPort1, kPort2}, {{"signal", "dcd"}, {"trigger_val", "1"}});
  add_serial(c, 2, "signal", {kPort1}, {{"signal", "cts"}, {"trigger_val", "0"}});
  c.set(kPort2 + ".label", "Router console");
  load(2);
  EXPECT_EQ((Strings{kPort1 + ".serial.event.signal.dcd", kPort2 + ".serial.event.signal.dcd",
                     kPort1 + ".serial.event.signal.cts"}), subs);
  walk({1, 2}, subs[1], {{"1", 'T'}});
  walk({1}, subs[0], {{"0", '-'}, {"1", 'T'}, {"1", 'r'}, {"0", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val 1 vs trigger 1"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + probe_rule_path(1) + " resolving. val 0 vs 1"));
  walk({2}, subs[2], {{"2", '-'}, {"high", 'T'}, {"2", 'N'}});  // a text is level 0
  EXPECT_EQ("0||Serial Port|" + kPort1, device_of(d.check(0)));
  EXPECT_EQ("0|Router console|Serial Port|" + kPort2, device_of(d.check(1)));
  set(probe_rule_path(1) + ".serial.signal.dev_refs.dev_ref1", "");
  EXPECT_EQ("-1|-|-|-", device_of(d.check(0)));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port settings for AR: rule1"));
}

TEST_F(SerialCheck, SignalKeysKeepTheCaseOnChangeTriggersOnEveryLevel) {
  const std::pair<std::string, std::string> sig[] = {{"cts", "1"}, {"Dcd", "2"}, {"DSR", "3"}, {"ri", "0"}};
  for (int n = 1; n <= 4; ++n) {
    add_serial(c, n, "signal", {kPort1}, {{"signal", sig[n - 1].first}, {"trigger_val", "1"}});
  }
  c.set(probe_rule_path(1) + ".serial.signal.trigger_on_change", "on");
  probe_hold_triggered(c, 1);
  load(4);
  walk({1}, subs[0], {{"0", 'T'}, {"1", 'T'}, {"0", 'T'}});
  EXPECT_EQ("0|0|1|N/A", trigger_of(d.check(0)));
  for (int n = 2; n <= 4; ++n) {
    const auto& [name, number] = sig[n - 1];
    EXPECT_EQ(kPort1 + ".serial.event.signal." + name, subs[n - 1]);
    walk({n}, subs[n - 1], {{"1", 'T'}});
    EXPECT_EQ("0|1|" + number + "|1", trigger_of(d.check(n - 1)));
  }
}

TEST_F(SerialCheck, RejectedAtCreation) {
  add_serial(c, 1, "signal", {kPort1}, {{"signal", ""}});
  add_serial(c, 2, "signal", {kPort1, ""}, {{"signal", "cts"}});
  add_serial(c, 3, "login", {kPort1}, {});
  add_serial(c, 4, "login", {""}, {{"trigger_login", "on"}});
  add_serial(c, 5, "pattern", {kPort1}, {{"trigger_tx", "on"}, {"trigger_rx", "on"}});
  add_serial(c, 6, "pattern", {kPort1}, {{"pattern", "panic"}});
  add_serial(c, 7, "pattern", {""}, {{"pattern", "panic"}, {"trigger_rx", "on"}});
  load(7);
  ASSERT_EQ(1u, d.ctx.checks.size());
  EXPECT_EQ(1u, d.check(0).ref_index);
  std::string what[] = {"signal", "signal", "trigger settings", "trigger settings", "pattern", "pattern", "pattern"};
  for (int n = 1; n <= 7; ++n) {
    EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid serial port or " + what[n - 1] + " for AR: rule" + std::to_string(n)));
  }
}

TEST_F(SerialCheck, LoginAndPatternKeysFollowFlagsAndRuleAndOnlyTrigger) {
  add_serial(c, 1, "login", {kPort1}, {{"trigger_logout", "on"}});
  add_serial(c, 2, "login", {kPort2}, {{"trigger_login", "on"}, {"trigger_logout", "on"}});
  add_serial(c, 3, "login", {kPort1}, {{"trigger_login", "on"}});
  add_serial(c, 4, "pattern", {kPort1, kPort2}, {{"pattern", "panic"}, {"trigger_rx", "on"}});
  add_serial(c, 5, "pattern", {kPort1}, {{"pattern", "oops"}, {"trigger_tx", "on"}});
  add_serial(c, 6, "pattern", {kPort1}, {{"pattern", "boot"}, {"trigger_tx", "on"}, {"trigger_rx", "on"}});
  for (int n : {1, 2, 6}) probe_hold_triggered(c, n);
  load(6);
  const std::string user = ".serial.event.user", pattern = ".serial.event.pattern";
  EXPECT_EQ((Strings{kPort1 + user + ".logout", kPort2 + user, kPort1 + user + ".login", kPort1 + pattern + "4.rx",
                     kPort2 + pattern + "4.rx", kPort1 + pattern + "5.tx", kPort1 + pattern + "6"}), subs);
  // "logout" does not contain "login": a login never matches a logout rule.
  EXPECT_EQ(0, check_append_event(&d.check(0), (kPort1 + user + ".login").c_str(), 0, 0, "alice"));
  EXPECT_EQ(kArNormal, d.check(0).state);
  walk({1}, subs[0], {{"bob", 'T'}, {"carol", '-'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val bob"));
  walk({2}, subs[1] + ".login", {{"alice", 'T'}});
  walk({6}, subs[6] + ".rx", {{"boot failed", 'T'}});
  walk({6}, subs[6] + ".tx", {{"boot", '-'}});
  EXPECT_EQ("0|LOGOUT: bob|N/A|N/A", trigger_of(d.check(0)));
  EXPECT_EQ("0|LOGIN: alice|N/A|N/A", trigger_of(d.check(1)));
  EXPECT_EQ("0|boot failed|N/A|boot", trigger_of(d.check(6)));
}

}  // namespace
