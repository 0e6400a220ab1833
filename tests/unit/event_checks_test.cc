// Checks that only trigger on events of a chosen kind: logins, serial patterns, USB consoles, interfaces.
#include "support/check_bench.h"

namespace {

const std::string kPort1 = "config.ports.port1";

TEST(EventChecks, LoginsSubscribeByTheirFlagsAndTakeTheChosenKinds) {
  CheckBench b;
  const std::string w = "config.webui.auth_event", pam = "config.pam.auth_event";
  const struct { const char *type, *login, *logout, *auth_error; std::string key; } cases[] = {
      {"webui_login", "on", "on", "off", w}, {"cli_login", "on", "on", "on", pam},
      {"webui_login", "on", "off", "0", w + ".login"}, {"webui_login", "no", "true", "", w + ".logout"},
      {"webui_login", "off", "off", "1", w + ".auth_error"}, {"cli_login", "off", "off", "on", pam + ".auth_error"},
      {"cli_login", "off", "0", "no", "-"}};
  for (const auto& k : cases) {
    const std::string p = std::string(k.type) + ".trigger_";
    b.rule(k.type, {{p + "login", k.login}, {p + "logout", k.logout}, {p + "auth_error", k.auth_error}});
    EXPECT_EQ(k.key, b.key()) << k.type << k.login << k.logout << k.auth_error;
  }
  b.rule("webui_login", {{"webui_login.trigger_login", "on"}, {"webui_login.trigger_auth_error", "on"}});
  EXPECT_EQ((Strings{"T bob", "-", "T mallory", "-"}),
            (Strings{b.on(kArNormal, w + ".login", "bob"), b.on(kArNormal, w + ".logout", "alice"),
                     b.on(kArNormal, w + ".auth_error", "mallory"), b.on(kArTriggered, w + ".login", "eve")}));
  EXPECT_EQ((Strings{"0|LOGIN: bob|N/A|N/A", "0|LOGOUT: alice|N/A|N/A", "0|AUTH ERROR: root|N/A|N/A", "0|-|-|-"}),
            (Strings{b.trigger(w + ".login", "bob"), b.trigger(w + ".logout", "alice"),
                     b.trigger(pam + ".auth_error", "root"), b.device()}));
  EXPECT_EQ(Strings{}, b.errors());  // no flag set is no error of the module's
}

TEST(EventChecks, SerialLoginsAndPatternsOnTheReferencesPort) {
  CheckBench b;
  const std::string user = kPort1 + ".serial.event.user", pattern = kPort1 + ".serial.event.pattern1";
  const Settings port{{"serial.login.dev_refs.dev_ref1", kPort1}, {"serial.pattern.dev_refs.dev_ref1", kPort1},
                      {"serial.pattern.pattern", "boot"}};
  const struct { const char *type, *first, *second; std::string key; } keys[] = {
      {"serial_login", "login", "", user + ".login"}, {"serial_login", "logout", "", user + ".logout"},
      {"serial_login", "login", "logout", user}, {"serial_login", "", "", "-"},
      // Numbered by the rule, not the reference: the pattern belongs to the rule.
      {"serial_pattern", "rx", "", pattern + ".rx"}, {"serial_pattern", "tx", "", pattern + ".tx"},
      {"serial_pattern", "tx", "rx", pattern}, {"serial_pattern", "", "", "-"}};
  for (const auto& k : keys) {
    Settings s = port;
    const std::string flag = std::string("serial.") + (k.type + 7) + ".trigger_";  // "serial_login" to "serial.login"
    for (const char* on : {k.first, k.second}) if (*on != '\0') s.emplace_back(flag + on, "on");
    EXPECT_EQ(k.key, b.rule(k.type, s).key()) << k.type << " " << k.first << k.second;
  }
  EXPECT_EQ((Strings{"T boot failed", "-", "0|boot failed|N/A|boot", "0||Serial Port|" + kPort1}),
            (Strings{b.on(kArNormal, pattern, "boot failed"), b.on(kArTriggered, pattern, "boot"),
                     b.trigger(pattern, "boot failed"), b.device()}));
  b.rule("serial_login", {{"serial.login.dev_refs.dev_ref1", kPort1}, {"serial.login.trigger_logout", "on"}});
  // "logout" does not contain "login": a logout matches only its own flag.
  EXPECT_EQ((Strings{"T bob", "-", "-", "0|LOGOUT: bob|N/A|N/A", "0|LOGIN: al|N/A|N/A"}),
            (Strings{b.on(kArNormal, user + ".logout", "bob"), b.on(kArNormal, user + ".login", "al"),
                     b.on(kArTriggered, user + ".logout", "carol"), b.trigger(user + ".logout", "bob"),
                     b.trigger(user + ".login", "al")}));
  b.rule("serial_pattern", {{"serial.pattern.dev_refs.dev_ref1", kPort1}, {"serial.pattern.trigger_rx", "on"}});
  EXPECT_EQ("-", b.key());  // no pattern
  EXPECT_EQ((Strings{"Invalid serial port or trigger settings for AR: bench",
                     "Invalid serial port or pattern for AR: bench", "Invalid serial port or pattern for AR: bench"}),
            b.errors());
}

TEST(EventChecks, UsbFlagsChooseWholeValues) {
  CheckBench b;
  const std::string usb1 = "config.ports.usb1", key = usb1 + ".dev.usb.event";
  const auto usb = [&](const char* connect, const char* disconnect, const std::string& port) {
    return Settings{{"usb_console_status.dev_refs.dev_ref1", port}, {usb1 + ".label", "Rack 4 switch"},
                    {"usb_console_status.trigger_connect", connect},
                    {"usb_console_status.trigger_disconnect", disconnect}};
  };
  EXPECT_EQ(key, b.rule("usb_console_status", usb("off", "on", usb1)).key());
  EXPECT_EQ((Strings{"-", "T disconnected", "-"}), b.walk(key, {"connected", "disconnected", "connected"}));
  EXPECT_EQ((Strings{"0|Rack 4 switch|USB Console Port|" + usb1, "0|disconnected|N/A|disconnected"}),
            (Strings{b.device(), b.trigger(key, "disconnected")}));
  b.rule("usb_console_status", usb("on", "on", "config.ports.usb2"));
  EXPECT_EQ((Strings{"-", "-", "-", "-", "T connected"}),
            b.walk(key, {"Connected", "connected ", "", "reconnected", "connected"}));
  EXPECT_EQ((Strings{"0||USB Console Port|config.ports.usb2", "0|connected|N/A|connected/disconnected"}),
            (Strings{b.device(), b.trigger(key, "connected")}));
  b.rule("usb_console_status", usb("on", "off", usb1));
  EXPECT_EQ("0|connected|N/A|connected", b.trigger(key, "connected"));
  for (const Settings& broken : {usb("off", "off", usb1), usb("on", "off", "")}) {
    EXPECT_EQ("-", b.rule("usb_console_status", broken).key());
  }
  EXPECT_EQ("-1|-|-|-", b.device());
  const std::string why = "Invalid usb port or trigger conditions for AR: bench";
  EXPECT_EQ((Strings{why, why, "Invalid usb console settings for AR: bench"}), b.errors());
}

// 1 down, 2 starting, 4 up, 8 stopping, nothing else.
TEST(EventChecks, TheEventMaskChoosesInterfaceEventsBitByBit) {
  CheckBench b;
  const std::string wan = "config.interfaces.wan", tunnel = "config.openvpn.tunnels.tunnel";
  const std::string status = "conman.network-connection-wan-up.status";
  const char* events[] = {"down", "starting", "up", "stopping", "UP", "up ", "1", ""};
  const struct { long mask; std::string outcomes; } masks[] = {{1, "T-------"}, {2, "-T------"}, {4, "--T-----"},
                                                               {8, "---T----"}, {5, "T-T-----"}, {0, "--------"}};
  for (const auto& [mask, outcomes] : masks) {
    b.rule("conman", {{"conman.ref", wan}, {"conman.event_mask", std::to_string(mask)}});
    for (size_t i = 0; i < std::size(events); ++i) {
      const std::string want = outcomes[i] == 'T' ? "T " + std::string(events[i]) : "-";
      EXPECT_EQ(want, b.on(kArNormal, status, events[i])) << mask << events[i];
    }
  }
  EXPECT_EQ("-", b.on(kArTriggered, status, "down"));
  EXPECT_EQ((Strings{status, "0|Network Interface|Ethernet|" + wan, "0|" + status + ": down|1|N/A"}),
            (Strings{b.key(), b.device(), b.trigger(status, "down")}));
  const struct { std::string ref, key, device; } refs[] = {
      {tunnel + "3", "conman.openvpn-N.status", "0|N|VPN Tunnel|" + tunnel + "3"},
      {"config.ipsec", "conman.ipsec-daemon.status", "0|IPSec VPN Daemon|VPN|config.ipsec"},
      {tunnel + "4", "-", "0||VPN Tunnel|" + tunnel + "4"},  // a tunnel without a name has no key
      {wan + ".extra", "-", "-1|-|-|-"}, {"config.interfaces.wa", "-", "-1|-|-|-"}};
  for (const auto& k : refs) {
    b.rule("conman", {{"conman.ref", k.ref}, {tunnel + "3.name", "N"}});
    EXPECT_EQ((Strings{k.key, k.device}), (Strings{b.key(), b.device()})) << k.ref;
  }
  EXPECT_EQ("0|conman.openvpn-N.status: up|4|N/A", b.trigger("conman.openvpn-N.status", "up"));
}

}  // namespace
