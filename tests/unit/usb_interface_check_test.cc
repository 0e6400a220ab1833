// USB console status and network interface checks: subscriptions, the
// connect flags and the event mask, tunnels, and what they describe.
#include <gtest/gtest.h>

#include <string>

#include "checks/interface_info.h"
#include "support/check_probe.h"

namespace {

const std::string kRule = probe_rule_path(1);
const std::string kPort1 = "config.ports.usb1";
const std::string kPort2 = "config.ports.usb2";

// A USB rule on two ports (the first labelled) that stays Triggered once
// triggered; edit `config`, then load().
class UsbConsoleCheck : public ::testing::Test {
 protected:
  void flags(bool connect, bool disconnect) {
    config.set("config.autoresponse.total", 1);
    probe_rule(config, 1, "usb_console_status");
    probe_hold_triggered(config, 1);
    config.set(kRule + ".usb_console_status.dev_refs.total", 2)
        .set(kRule + ".usb_console_status.dev_refs.dev_ref1", kPort1)
        .set(kRule + ".usb_console_status.dev_refs.dev_ref2", kPort2)
        .set(kRule + ".usb_console_status.trigger_connect", connect ? "on" : "off")
        .set(kRule + ".usb_console_status.trigger_disconnect", disconnect ? "on" : "off")
        .set(kPort1 + ".label", "Rack 4 switch");
  }
  void load() {
    d.write_config(config);
    ASSERT_EQ(d.load(), 0);
    d.take_sent();
  }
  void deliver(const std::string& port, const std::string& value) {
    ASSERT_EQ(d.deliver(port + ".dev.usb.event", value), 0);
  }

  ConfigBuilder config;
  TestDaemon d;
};

TEST_F(UsbConsoleCheck, TheDisconnectFlagAloneTriggersOnDisconnectsOnly) {
  flags(false, true);
  load();
  ASSERT_EQ(d.ctx.checks.size(), 2u);
  EXPECT_EQ(d.check(0).subscription, kPort1 + ".dev.usb.event");
  EXPECT_EQ(d.check(1).subscription, kPort2 + ".dev.usb.event");
  deliver(kPort1, "connected");
  EXPECT_TRUE(d.take_sent().empty());
  deliver(kPort1, "disconnected");
  EXPECT_EQ(d.check(0).state, kArTriggered);
  EXPECT_EQ(d.check(1).state, kArNormal);
  EXPECT_TRUE(d.logged("AR " + kRule + " triggered. val disconnected"));
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(t.first, "disconnected");
  EXPECT_EQ(t.second, "N/A");
  EXPECT_EQ(t.third, "disconnected");
}

TEST_F(UsbConsoleCheck, BothFlagsTriggerOnEitherWholeValue) {
  flags(true, true);
  load();
  for (const char* other : {"Connected", "connected ", "disconnected\t", "", "reconnected"}) deliver(kPort1, other);
  EXPECT_TRUE(d.take_sent().empty());
  deliver(kPort1, "connected");
  deliver(kPort2, "disconnected");
  EXPECT_EQ(d.check(1).state, kArTriggered);
  deliver(kPort1, "disconnected");  // a Triggered port ignores further events
  EXPECT_EQ(describe_trigger_of(d.check(0)).first, "connected");
  EXPECT_EQ(describe_trigger_of(d.check(0)).third, "connected/disconnected");

  config.set(kRule + ".usb_console_status.trigger_disconnect", "off");
  d.write_config(config);
  EXPECT_EQ(describe_trigger_of(d.check(0)).third, "connected");
}

TEST_F(UsbConsoleCheck, NeitherFlagRejectsEveryReference) {
  flags(false, false);
  load();
  EXPECT_TRUE(d.ctx.checks.empty());
  EXPECT_TRUE(d.logged("Invalid usb port or trigger conditions for AR: rule1"));
}

TEST_F(UsbConsoleCheck, AReferenceWithoutAPortIsRejected) {
  flags(true, false);
  config.set(kRule + ".usb_console_status.dev_refs.dev_ref2", "");
  load();
  ASSERT_EQ(d.ctx.checks.size(), 1u);
  EXPECT_EQ(d.check(0).ref_index, 1u);
  EXPECT_TRUE(d.logged("Invalid usb port or trigger conditions for AR: rule1"));
}

TEST_F(UsbConsoleCheck, DescribesThePortByItsLabel) {
  flags(true, false);
  load();
  Described dev = describe_device_of(d.check(0));
  EXPECT_EQ(dev.result, 0);
  EXPECT_EQ(dev.first, "Rack 4 switch");
  EXPECT_EQ(dev.second, "USB Console Port");
  EXPECT_EQ(dev.third, kPort1);
  EXPECT_EQ(describe_device_of(d.check(1)).first, "");  // no label entry

  config.set(kRule + ".usb_console_status.dev_refs.dev_ref1", "");
  d.write_config(config);
  dev = describe_device_of(d.check(0));
  EXPECT_EQ(dev.result, -1);
  EXPECT_FALSE(dev.first || dev.second || dev.third);
  EXPECT_TRUE(d.logged("Invalid usb console settings for AR: rule1"));
}

// --- Network interfaces -----------------------------------------------------

const std::string kWanStatus = "conman.network-connection-wan-up.status";

class NetInterfaceCheck : public ::testing::Test {
 protected:
  // Loads an interface rule that stays Triggered; the subscription, or ""
  // when no ArCheck was made.
  std::string load(const std::string& ref, long mask) {
    config.set("config.autoresponse.total", 1);
    probe_rule(config, 1, "conman");
    probe_hold_triggered(config, 1);
    config.set(kRule + ".conman.ref", ref).set(kRule + ".conman.event_mask", mask);
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    d.take_sent();
    return d.ctx.checks.empty() ? "" : d.check(0).subscription;
  }
  void deliver(const std::string& value, const std::string& key = kWanStatus) {
    ASSERT_EQ(d.deliver(key, value), 0);
  }

  ConfigBuilder config;
  TestDaemon d;
};

TEST_F(NetInterfaceCheck, ATableInterfaceIsWatchedAndDescribedByItsRow) {
  EXPECT_EQ(load("config.interfaces.wan", 15), kWanStatus);
  const Described dev = describe_device_of(d.check(0));
  EXPECT_EQ(dev.first, "Network Interface");
  EXPECT_EQ(dev.second, "Ethernet");
  EXPECT_EQ(dev.third, "config.interfaces.wan");
  config.set(kRule + ".conman.ref", "config.interfaces");
  d.write_config(config);
  EXPECT_EQ(describe_device_of(d.check(0)).result, -1);
}

TEST_F(NetInterfaceCheck, TheMaskChoosesTheTriggeringEvents) {
  load("config.interfaces.wan", 5);
  for (const char* dropped : {"starting", "stopping", "UP", "up ", "", "1"}) deliver(dropped);
  EXPECT_TRUE(d.take_sent().empty());
  deliver("up");
  EXPECT_EQ(d.check(0).state, kArTriggered);
  EXPECT_TRUE(d.logged("AR " + kRule + " triggered. val up"));
  const Described t = describe_trigger_of(d.check(0));
  EXPECT_EQ(t.first, kWanStatus + ": up");
  EXPECT_EQ(t.second, "4");
  EXPECT_EQ(t.third, "N/A");
}

TEST_F(NetInterfaceCheck, DownTriggersUnderMaskFiveAndNothingUnderMaskZero) {
  load("config.interfaces.wan", 0);
  for (const char* value : {"down", "starting", "up", "stopping"}) deliver(value);
  EXPECT_EQ(d.check(0).state, kArNormal);
  config.set(kRule + ".conman.event_mask", 5);
  d.write_config(config);
  deliver("down");
  EXPECT_EQ(describe_trigger_of(d.check(0)).second, "1");
}

TEST_F(NetInterfaceCheck, ANamedTunnelIsWatchedUnderItsName) {
  config.set("config.openvpn.tunnels.tunnel3.name", "N");
  EXPECT_EQ(load("config.openvpn.tunnels.tunnel3", 8), "conman.openvpn-N.status");
  const Described dev = describe_device_of(d.check(0));
  EXPECT_EQ(dev.first, "N");
  EXPECT_EQ(dev.second, "VPN Tunnel");
  EXPECT_EQ(dev.third, "config.openvpn.tunnels.tunnel3");
  deliver("stopping", "conman.openvpn-N.status");
  EXPECT_EQ(d.check(0).state, kArTriggered);
}

TEST_F(NetInterfaceCheck, ATunnelWithoutANameIsRejected) {
  EXPECT_EQ(load("config.openvpn.tunnels.tunnel3", 1), "");
  EXPECT_TRUE(d.logged("No subscription for rule: " + kRule + " - 1"));
}

TEST_F(NetInterfaceCheck, ARowKeyFollowedByMoreTextIsRejected) {
  EXPECT_EQ(load("config.interfaces.wan.extra", 15), "");
}

TEST(InterfaceTables, LookupsAreExactAndReachTheLastRow) {
  EXPECT_STREQ(interface_info_find("config.ipsec")->status_key, "conman.ipsec-daemon.status");
  EXPECT_EQ(interface_info_find("config.interfaces.wa"), nullptr);
  EXPECT_TRUE(interface_is_tunnel("config.openvpn"));
  EXPECT_FALSE(interface_is_tunnel("x.config.openvpn.t1"));
  EXPECT_EQ(conman_event_find("stopping")->bit, 8u);
  EXPECT_EQ(conman_event_find("stop"), nullptr);
}

}  // namespace
