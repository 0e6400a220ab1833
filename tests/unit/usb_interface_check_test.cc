// USB console status and network interface checks: flags, event mask, tunnels, devices.
#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "support/check_probe.h"

namespace {

std::string usb(int n) { return "config.ports.usb" + std::to_string(n); }
const std::string kWanStatus = "conman.network-connection-wan-up.status";

void add_usb(ConfigBuilder& c, int n, const char* con, const char* dis, const Strings& ports) {
  probe_rule(c, n, "usb_console_status");
  probe_hold_triggered(c, n);
  const std::string p = probe_rule_path(n) + ".usb_console_status.";
  c.set(p + "trigger_connect", con).set(p + "trigger_disconnect", dis).set(p + "dev_refs.total", long(ports.size()));
  for (size_t i = 0; i < ports.size(); ++i) c.set(p + "dev_refs.dev_ref" + std::to_string(i + 1), ports[i]);
}

void add_interface(ConfigBuilder& c, int n, const std::string& ref, long mask) {
  probe_rule(c, n, "conman");
  probe_hold_triggered(c, n);
  c.set(probe_rule_path(n) + ".conman.ref", ref).set(probe_rule_path(n) + ".conman.event_mask", mask);
}

using UsbInterfaceCheck = CheckTest;

TEST_F(UsbInterfaceCheck, UsbFlagsChooseTheWholeValuesThatTrigger) {
  add_usb(c, 1, "off", "on", {usb(1), usb(2)});
  add_usb(c, 2, "on", "on", {usb(3)});
  add_usb(c, 3, "off", "off", {usb(4)});
  add_usb(c, 4, "on", "off", {usb(5), ""});
  c.set(usb(1) + ".label", "Rack 4 switch");
  load(4);
  const std::string ev = ".dev.usb.event";
  EXPECT_EQ((Strings{usb(1) + ev, usb(2) + ev, usb(3) + ev, usb(5) + ev}), subs);
  for (const std::string rule : {"rule3", "rule4"}) {
    EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid usb port or trigger conditions for AR: " + rule));
  }
  walk({1}, subs[0], {{"connected", '-'}, {"disconnected", 'T'}, {"connected", '-'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val disconnected"));
  walk({2}, subs[2], {{"Connected", '-'}, {"connected ", '-'}, {"", '-'}, {"reconnected", '-'}, {"connected", 'T'}});
  walk({4}, subs[3], {{"disconnected", '-'}, {"connected", 'T'}});
  EXPECT_EQ("0|disconnected|N/A|disconnected", trigger_of(d.check(0)));
  EXPECT_EQ("0|connected|N/A|connected/disconnected", trigger_of(d.check(2)));
  EXPECT_EQ("0|Rack 4 switch|USB Console Port|" + usb(1), device_of(d.check(0)));
  EXPECT_EQ("0||USB Console Port|" + usb(2), device_of(d.check(1)));
  set(probe_rule_path(1) + ".usb_console_status.dev_refs.dev_ref1", "");
  EXPECT_EQ("-1|-|-|-", device_of(d.check(0)));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid usb console settings for AR: rule1"));
}

TEST_F(UsbInterfaceCheck, InterfaceEventMaskTablesAndTunnels) {
  add_interface(c, 1, "config.interfaces.wan", 5);
  add_interface(c, 2, "config.openvpn.tunnels.tunnel3", 12);
  add_interface(c, 3, "config.openvpn.tunnels.tunnel4", 15);  // a tunnel without a name
  add_interface(c, 4, "config.interfaces.wan.extra", 15);
  add_interface(c, 5, "config.ipsec", 0);
  add_interface(c, 6, "config.interfaces.wa", 15);
  c.set("config.openvpn.tunnels.tunnel3.name", "N");
  load(6);
  EXPECT_EQ((Strings{kWanStatus, "conman.openvpn-N.status", "conman.ipsec-daemon.status"}), subs);
  for (int n : {3, 4, 6}) EXPECT_TRUE(d.logged("No subscription for rule: " + probe_rule_path(n) + " - 1"));
  walk({1}, kWanStatus, {{"starting", '-'}, {"stopping", '-'}, {"UP", '-'}, {"up ", '-'}, {"1", '-'}, {"down", 'T'}});
  EXPECT_EQ("0|" + kWanStatus + ": down|1|N/A", trigger_of(d.check(0)));
  walk({2}, subs[1], {{"down", '-'}, {"starting", '-'}, {"up", 'T'}});
  EXPECT_EQ("0|conman.openvpn-N.status: up|4|N/A", trigger_of(d.check(1)));
  walk({5}, subs[2], {{"down", '-'}, {"starting", '-'}, {"up", '-'}, {"stopping", '-'}});
  EXPECT_EQ("0|Network Interface|Ethernet|config.interfaces.wan", device_of(d.check(0)));
  EXPECT_EQ("0|N|VPN Tunnel|config.openvpn.tunnels.tunnel3", device_of(d.check(1)));
}

}  // namespace
