// USB console status and network interface checks: flags, event mask, tunnels, devices.
#include "support/check_probe.h"

static std::string usb(int n) { return "config.ports.usb" + std::to_string(n); }

using UsbInterfaceCheck = CheckTest;

TEST_F(UsbInterfaceCheck, UsbFlagsChooseWholeValuesAndTheEventMaskChoosesInterfaceEventsBitByBit) {
  const struct { const char *connect, *disconnect; Strings ports; } usb_rules[] = {
      {"off", "on", {usb(1), usb(2)}}, {"on", "on", {usb(3)}}, {"off", "off", {usb(4)}}, {"on", "off", {usb(5), ""}}};
  for (int n = 1; n <= 4; ++n) {
    const auto& [connect, disconnect, ports] = usb_rules[n - 1];
    const Pushes flags{{"trigger_connect", connect}, {"trigger_disconnect", disconnect}};
    rule(n, "usb_console_status", with_refs("usb_console_status", ports, flags), true);
  }
  const std::string wan = "config.interfaces.wan", tunnel = "config.openvpn.tunnels.tunnel";
  const std::pair<std::string, long> conman_rules[] = {{wan, 1}, {wan, 2}, {wan, 4}, {wan, 8}, {wan, 5}, {wan, 0},
      {tunnel + "3", 15}, {"config.ipsec", 15}, {tunnel + "4", 15}, {wan + ".extra", 15}, {"config.interfaces.wa", 15}};
  for (int n = 5; n <= 15; ++n) {
    const auto& [ref, mask] = conman_rules[n - 5];
    rule(n, "conman", {{"conman.ref", ref}, {"conman.event_mask", std::to_string(mask)}}, n == 9 || n == 11);
  }
  c.set(usb(1) + ".label", "Rack 4 switch").set(tunnel + "3.name", "N");  // tunnel 4 has no name
  load(15);
  const std::string ev = ".dev.usb.event", status = "conman.network-connection-wan-up.status";
  EXPECT_EQ((Strings{usb(1) + ev, usb(2) + ev, usb(3) + ev, usb(5) + ev, status, status, status, status, status,
                     status, "conman.openvpn-N.status", "conman.ipsec-daemon.status"}), subs);
  EXPECT_TRUE(fatal("Invalid usb port or trigger conditions for AR: rule3") &&
              fatal("Invalid usb port or trigger conditions for AR: rule4"));
  for (int n : {13, 14, 15}) EXPECT_TRUE(d.logged("No subscription for rule: " + probe_rule_path(n) + " - 1"));
  walk({1}, subs[0], {{"connected", '-'}, {"disconnected", 'T'}, {"connected", '-'}});
  walk({2}, subs[2], {{"Connected", '-'}, {"connected ", '-'}, {"", '-'}, {"reconnected", '-'}, {"connected", 'T'}});
  walk({4}, subs[3], {{"disconnected", '-'}, {"connected", 'T'}});
  EXPECT_EQ((Strings{"0|disconnected|N/A|disconnected", "0|connected|N/A|connected/disconnected",
                     "0|connected|N/A|connected"}), (Strings{trigger_of(0), trigger_of(2), trigger_of(3)}));
  EXPECT_EQ((Strings{"0|Rack 4 switch|USB Console Port|" + usb(1), "0||USB Console Port|" + usb(2)}),
            (Strings{device_of(0), device_of(1)}));
  // 1 down, 2 starting, 4 up, 8 stopping, nothing else; rule 9 is held Triggered by its first event.
  for (const char* other : {"UP", "up ", "1", ""}) takes(status, other, {});
  takes(status, "down", {{5, 'C'}, {9, 'T'}});
  takes(status, "starting", {{6, 'C'}});
  takes(status, "up", {{7, 'C'}});
  takes(status, "stopping", {{8, 'C'}});
  EXPECT_EQ("0|" + status + ": down|1|N/A", trigger_of(8));
  walk({11}, subs[10], {{"up", 'T'}});
  EXPECT_EQ("0|conman.openvpn-N.status: up|4|N/A", trigger_of(10));
  EXPECT_EQ((Strings{"0|Network Interface|Ethernet|" + wan, "0|N|VPN Tunnel|" + tunnel + "3",
                     "0|IPSec VPN Daemon|VPN|config.ipsec"}), (Strings{device_of(4), device_of(10), device_of(11)}));
  set(probe_rule_path(1) + ".usb_console_status.dev_refs.dev_ref1", "");
  EXPECT_EQ("-1|-|-|-", device_of(0));
  EXPECT_TRUE(fatal("Invalid usb console settings for AR: rule1"));
}
