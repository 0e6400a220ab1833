// The serial signal, login and pattern checks: keys per device reference, levels, rejections, ports.
#include "support/check_probe.h"

const std::string kPort1 = "config.ports.port1", kPort2 = "config.ports.port2";

using SerialCheck = CheckTest;

TEST_F(SerialCheck, SignalLevelsLoginsAndPatternsOnEachReferencesOwnPort) {
  const std::string signal = "serial.signal", login = "serial.login", pattern = "serial.pattern";
  rule(1, "serial_signal", with_refs(signal, {kPort1, kPort2}, {{"signal", "dcd"}, {"trigger_val", "1"}}));
  // Keys keep the signal's case; its number does not depend on it, and an unknown one is 0.
  const std::pair<std::string, std::string> sig[] = {{"cts", "1"}, {"Dcd", "2"}, {"DSR", "3"}, {"ri", "0"}};
  for (int n = 2; n <= 5; ++n)
    rule(n, "serial_signal", with_refs(signal, {kPort1}, {{"signal", sig[n - 2].first}, {"trigger_val", "0"}}));
  rule(6, "serial_login", with_refs(login, {kPort1}, {{"trigger_logout", "on"}}), true);
  rule(7, "serial_login", with_refs(login, {kPort2}, {{"trigger_login", "on"}, {"trigger_logout", "on"}}), true);
  rule(8, "serial_pattern", with_refs(pattern, {kPort1, kPort2}, {{"pattern", "panic"}, {"trigger_rx", "on"}}));
  rule(9, "serial_pattern", with_refs(pattern, {kPort1}, {{"pattern", "oops"}, {"trigger_tx", "on"}}));
  rule(10, "serial_pattern",
       with_refs(pattern, {kPort1}, {{"pattern", "boot"}, {"trigger_tx", "on"}, {"trigger_rx", "on"}}), true);
  rule(11, "serial_signal", with_refs(signal, {"", kPort2}, {{"signal", "ri"}}));  // the second reference stays
  rule(12, "serial_login", with_refs(login, {kPort1}));
  rule(13, "serial_pattern", with_refs(pattern, {kPort1}, {{"trigger_tx", "on"}, {"trigger_rx", "on"}}));
  rule(14, "serial_pattern", with_refs(pattern, {""}, {{"pattern", "panic"}, {"trigger_rx", "on"}}));
  c.set(kPort2 + ".label", "Router console");
  load(14);
  const std::string ev = ".serial.event.signal.", user = ".serial.event.user", pat = ".serial.event.pattern";
  EXPECT_EQ((Strings{kPort1 + ev + "dcd", kPort2 + ev + "dcd", kPort1 + ev + "cts", kPort1 + ev + "Dcd",
                     kPort1 + ev + "DSR", kPort1 + ev + "ri", kPort1 + user + ".logout", kPort2 + user,
                     kPort1 + pat + "8.rx", kPort2 + pat + "8.rx", kPort1 + pat + "9.tx", kPort1 + pat + "10",
                     kPort2 + ev + "ri"}), subs);
  EXPECT_EQ(2u, d.check(12).conf.ref_index);
  for (const char* why : {"signal for AR: rule11", "trigger settings for AR: rule12", "pattern for AR: rule13",
                          "pattern for AR: rule14"})
    EXPECT_TRUE(fatal(std::string("Invalid serial port or ") + why)) << why;
  walk({1, 2}, subs[1], {{"1", 'T'}});
  walk({1}, subs[0], {{"0", '-'}, {"1", 'T'}, {"1", 'r'}, {"0", 'N'}});
  for (int n = 2; n <= 5; ++n) {
    walk({n}, subs[n], {{"0", 'T'}});
    EXPECT_EQ("0|0|" + sig[n - 2].second + "|0", trigger_of(n));
  }
  walk({2}, subs[2], {{"2", 'N'}, {"2", '-'}, {"high", 'T'}});  // a text is level 0
  EXPECT_EQ((Strings{"0||Serial Port|" + kPort1, "0|Router console|Serial Port|" + kPort2}),
            (Strings{device_of(0), device_of(1)}));
  walk({6}, subs[6], {{"bob", 'T'}, {"carol", '-'}});  // logins and patterns only trigger
  walk({7}, subs[7] + ".login", {{"alice", 'T'}});
  walk({10}, subs[11] + ".rx", {{"boot failed", 'T'}});
  walk({10}, subs[11] + ".tx", {{"boot", '-'}});
  EXPECT_EQ("0|LOGOUT: bob|N/A|N/A", trigger_of(6));
  EXPECT_EQ("0|LOGIN: alice|N/A|N/A", trigger_of(7));
  EXPECT_EQ("0|boot failed|N/A|boot", trigger_of(11));
  set(probe_rule_path(1) + ".serial.signal.dev_refs.dev_ref1", "");
  EXPECT_EQ("-1|-|-|-", device_of(0));
  EXPECT_TRUE(fatal("Invalid serial port settings for AR: rule1"));
}
