// One check of each family through the real daemon and the development
// infod: the keys they subscribe reach them, the values they expect trigger
// their rules and, where a check resolves, the values that clear it do so.
// An SMS command answers its sender through the spool, and a malformed SMS
// leaves the daemon running.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_rules.h"

namespace {

using namespace e2e;

// Rule n's update: the key, the value that triggers it and, for a check
// that resolves, the value that resolves it.
struct Family {
  int rule;
  std::string key, trigger, resolve;
};

const std::vector<Family> kFamilies = {
    {1, "config.devices.device1.1", "1", "0"},
    {3, rule_path(3) + ".check.status", "3", "0"},
    {4, "config.sms.incoming", "+61400000004:please reboot now", ""},
    {5, rule_path(5) + ".celldata.alert", "TRIGGER:1200", "RESOLVE:0"},
    {6, "config.ups.ups1.status.input.voltage", "262.5", "240"},
    {7, "config.ups.ups2.event.status", "onbatt", "online"},
    {8, "config.ports.port3.serial.event.signal.dcd", "1", "0"},
    {9, "config.ports.port4.serial.event.pattern9.rx", "ERROR disk full", ""},
    {10, "config.webui.auth_event.auth_error", "admin:192.0.2.9", ""},
    {11, "config.usb.port1.dev.usb.event", "disconnected", ""},
    {12, "conman.network-connection-wan-up.status", "down", ""},
};

ConfigBuilder rules() {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 12);
  add_rule(c, 1, "door", "alarm",
           {{"alarm.dev_ref", "config.devices.device1"}, {"alarm.pin", "1"}, {"alarm.trigger_value", "1"}});
  add_rule(c, 2, "tamper", "alarm",
           {{"alarm.dev_ref", "config.devices.device1"}, {"alarm.pin", "2"}, {"alarm.trigger_on_change", "on"}});
  add_rule(c, 3, "gateway", "net_ping", {{"net.ping.address", "192.0.2.1"}});
  add_rule(c, 4, "reboot", "sms",
           {{"sms.phone_number", "+61400000009,+61400000004"}, {"sms.message_pattern", "reboot"}});
  add_action(c, 4, "trigger_actions", 1, "reply", "sms");
  c.set(rule_path(4) + ".trigger_actions.total", 1);
  c.set(rule_path(4) + ".trigger_actions.action1.sms.message", "rebooting");
  add_rule(c, 5, "cell", "celldata", {{"celldata.cell_device", "Modem A"}, {"celldata.data_limit", "1000"}});
  add_rule(c, 6, "mains", "power",
           {{"power.check_type", "voltage"}, {"power.dev_ref", "config.ups.ups1"}, {"power.trigger_val", "250"},
            {"power.hysteresis", "5"}});
  add_rule(c, 7, "battery", "ups_status",
           {{"ups.state.dev_ref", "config.ups.ups2"}, {"ups.state.trigger_cond", "onbatt"}});
  add_rule(c, 8, "carrier", "serial_signal",
           {{"serial.signal.dev_refs.dev_ref1", "config.ports.port3"}, {"serial.signal.signal", "dcd"},
            {"serial.signal.trigger_val", "1"}});
  add_rule(c, 9, "errors", "serial_pattern",
           {{"serial.pattern.dev_refs.dev_ref1", "config.ports.port4"}, {"serial.pattern.pattern", "ERROR"},
            {"serial.pattern.trigger_rx", "on"}});
  add_rule(c, 10, "web", "webui_login", {{"webui_login.trigger_auth_error", "on"}});
  add_rule(c, 11, "usb", "usb_console_status",
           {{"usb_console_status.dev_refs.dev_ref1", "config.usb.port1"},
            {"usb_console_status.trigger_disconnect", "on"}});
  add_rule(c, 12, "wan", "conman", {{"conman.ref", "config.interfaces.wan"}, {"conman.event_mask", "1"}});
  return c;
}

TEST(ChecksE2e, EveryFamilyTriggersAndResolvesThroughInfod) {
  Sandbox box;
  box.write_config(rules());
  ASSERT_TRUE(box.start_infod());
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.infod().logged(state_line(12, "Normal")));

  // Unusable SMS texts are dropped; the daemon goes on.
  for (const char* bad : {"+61400000004", "+61400000004:", ":::"}) ASSERT_TRUE(box.push("config.sms.incoming", bad));
  // The on-change alarm triggers on every change, whatever the level.
  ASSERT_TRUE(box.push("config.devices.device1.2", "1"));
  ASSERT_TRUE(box.push("config.devices.device1.2", "0"));
  for (const Family& f : kFamilies) ASSERT_TRUE(box.push(f.key, f.trigger)) << f.key;
  for (const Family& f : kFamilies) EXPECT_TRUE(box.infod().logged(state_line(f.rule, "Triggered"))) << f.key;
  EXPECT_TRUE(eventually([&] { return box.infod().count_lines(state_line(2, "Triggered")) == 2; }));

  for (const Family& f : kFamilies) {
    if (f.resolve.empty()) continue;
    ASSERT_TRUE(box.push(f.key, f.resolve)) << f.key;
    EXPECT_TRUE(box.infod().logged(state_line(f.rule, "Resolving"))) << f.key;
  }

  // The SMS command's reply goes to its sender, written before its
  // Triggered state reached infod.
  std::vector<std::string> spooled;
  for (const auto& e : std::filesystem::directory_iterator(box.path("/var/spool/sms/outgoing"))) {
    spooled.push_back(read_file(e.path()));
  }
  EXPECT_EQ(spooled, std::vector<std::string>{"To: +61400000004\n\nrebooting"});
  EXPECT_TRUE(box.daemon_logged("Invalid SMS received: +61400000004:"));
  EXPECT_TRUE(box.daemon_running());
  expect_clean_end(box);
}

}  // namespace
