// SNMP alerts through the real daemon: one rule per kind of check that has
// an alert script, each triggered through infod, and each script's whole
// argument vector as the script received it, the event time included. A
// kind without a script and a filtered CLI login run nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_rules.h"
#include "support/zone_guard.h"

namespace {

using namespace e2e;
using Strings = std::vector<std::string>;
using Settings = std::vector<std::pair<std::string, std::string>>;

// Rule n (named name, of check type) with its settings, the update that
// triggers it, its script and the arguments after the common head.
struct Alert {
  const char* name;
  const char* check_type;
  Settings settings;
  std::string key, value;
  const char* script;
  Strings tail;
};

const std::vector<Alert> kAlerts = {
    {"rack", "environmental",
     {{"enviro.check_type", "temp"}, {"enviro.dev_ref", "config.ports.port1.enviro"}, {"enviro.trigger_val", "30"},
      {"enviro.hysteresis", "1"}, {"enviro.comparison", "greater"}},
     "config.ports.port1.enviro.temp", "35.6", "environmental-alert",
     {"Rack sensor", "QTH5200", "temp", "35", "30", "greater"}},
    {"door", "alarm",
     {{"alarm.dev_ref", "config.devices.device1"}, {"alarm.pin", "input2"}, {"alarm.trigger_value", "1"}},
     "config.devices.device1.input2", "1", "dio-alert", {"Door contact", "1", "1", "IO Box"}},
    {"mains", "power",
     {{"power.check_type", "voltage"}, {"power.dev_ref", "config.ups.ups1"}, {"power.trigger_val", "250"},
      {"power.hysteresis", "5"}, {"power.comparison", "greater"}},
     "config.ups.ups1.status.input.voltage", "261.5", "power-alert",
     {"Main UPS", "UPS", "voltage", "261", "250", "greater"}},
    {"errors", "serial_pattern",
     {{"serial.pattern.dev_refs.dev_ref1", "config.ports.port4"}, {"serial.pattern.pattern", "ERROR"},
      {"serial.pattern.trigger_rx", "on"}},
     "config.ports.port4.serial.event.pattern4.rx", "ERROR disk", "portmanager-pattern-alert",
     {"errors", "4", "Router", "ERROR disk"}},
    {"carrier", "serial_signal",
     {{"serial.signal.dev_refs.dev_ref1", "config.ports.port5"}, {"serial.signal.signal", "dcd"},
      {"serial.signal.trigger_val", "1"}},
     "config.ports.port5.serial.event.signal.dcd", "1", "portmanager-signal-alert", {"5", "Modem line", "2", "1", "1"}},
    {"logins", "serial_login",
     {{"serial.login.dev_refs.dev_ref1", "config.ports.port6"}, {"serial.login.trigger_login", "on"}},
     "config.ports.port6.serial.event.user.login", "root", "portmanager-user-alert", {"LOGIN", "6", "Switch", "root"}},
    {"battery", "ups_status", {{"ups.state.dev_ref", "config.ups.ups2"}, {"ups.state.trigger_cond", "onbatt"}},
     "config.ups.ups2.event.status", "onbatt", "ups-status-alert", {"Backup UPS", "onbatt"}},
    {"cell", "celldata",
     {{"celldata.cell_device", "Modem A"}, {"celldata.data_period", "30"}, {"celldata.data_limit", "1000"}},
     rule_path(8) + ".celldata.alert", "TRIGGER:1200", "devlog-data-alert", {"Modem A", "1200", "30", "1000"}},
    {"gateway", "net_ping", {{"net.ping.address", "192.0.2.1"}}, rule_path(9) + ".check.status", "3", "host-alert",
     {"192.0.2.1", "N/A", "3", "0"}},
    {"disk", "custom", {{"custom.script", "/etc/scripts/check-disk"}, {"custom.trigger_code", "0"}},
     rule_path(10) + ".check.status", "2", "custom-alert", {"/etc/scripts/check-disk", "2", "0"}},
    {"reboot", "sms", {{"sms.phone_number", "+61400000011"}, {"sms.message_pattern", "reboot"}},
     "config.sms.incoming", "+61400000011:reboot now", "sms-alert",
     {"+61400000011:reboot now", "+61400000011", "reboot"}},
    {"web", "webui_login", {{"webui_login.trigger_login", "on"}}, "config.webui.auth_event.login",
     "admin:[2001:db8::7]:https", "webui-user-alert", {"LOGIN", "admin", "[2001:db8::7]", "https"}},
    {"wan", "conman", {{"conman.ref", "config.interfaces.wan"}, {"conman.event_mask", "1"}},
     "conman.network-connection-wan-up.status", "down", "network-interface-alert",
     {"Network Interface", "Ethernet", "1", "conman.network-connection-wan-up.status: down", "N/A"}},
    {"cli", "cli_login", {{"cli_login.trigger_login", "on"}}, "config.pam.auth_event.login",
     "root:sshd:/bin/bash:192.0.2.9", "cli-user-alert", {"LOGIN", "root", "SSH Service", "192.0.2.9"}},
};

// The names and labels the describing operations look up.
const Settings kDevices = {
    {"config.ports.port1.enviro.name", "Rack sensor"}, {"config.devices.device1.name", "IO Box"},
    {"config.devices.device1.alarms.input2.label", "Door contact"}, {"config.ups.ups1.name", "Main UPS"},
    {"config.ports.port4.label", "Router"}, {"config.ports.port5.label", "Modem line"},
    {"config.ports.port6.label", "Switch"}, {"config.ups.ups2.name", "Backup UPS"},
};

Strings split(const std::string& line) {
  Strings out;
  std::istringstream in(line);
  for (std::string field; std::getline(in, field, '|');) out.push_back(field);
  return out;
}

// Whether date is the hex DateAndTime of a UTC time within a minute of now.
bool recent_utc_date(const std::string& date) {
  if (date.size() != 22 || date.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  const auto octet = [&](size_t i, size_t n = 2) { return std::stoi(date.substr(i, n), nullptr, 16); };
  std::tm t{};
  t.tm_year = octet(0, 4) - 1900;
  t.tm_mon = octet(4) - 1;
  t.tm_mday = octet(6);
  t.tm_hour = octet(8);
  t.tm_min = octet(10);
  t.tm_sec = octet(12);
  return octet(14) < 10 && date.substr(16) == "2b0000" && std::abs(difftime(timegm(&t), time(nullptr))) < 60;
}

TEST(SnmpE2e, EveryScriptGetsItsWholeArgumentVector) {
  Sandbox box;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 15).set("config.autoresponse.concurrent_actions", 16);
  for (const auto& [key, value] : kDevices) c.set(key, value);
  for (int n = 1; n <= 15; ++n) {
    if (n <= 14) add_rule(c, n, kAlerts[n - 1].name, kAlerts[n - 1].check_type, kAlerts[n - 1].settings);
    c.set(rule_path(n) + ".trigger_actions.total", 1);
    add_action(c, n, "trigger_actions", 1, "alert", "snmp");
  }
  add_rule(c, 15, "usb", "usb_console_status",
           {{"usb_console_status.dev_refs.dev_ref1", "config.usb.port1"},
            {"usb_console_status.trigger_disconnect", "on"}});
  box.write_config(c);
  for (const Alert& a : kAlerts) fake(box, std::string("/etc/scripts/") + a.script);
  ASSERT_TRUE(box.start_infod());
  {
    ZoneGuard utc("UTC");
    ASSERT_TRUE(box.start_daemon());
  }
  ASSERT_TRUE(box.infod().logged(state_line(15, "Normal")));

  for (const Alert& a : kAlerts) ASSERT_TRUE(box.push(a.key, a.value)) << a.name;
  ASSERT_TRUE(box.push("config.usb.port1.dev.usb.event", "disconnected"));
  ASSERT_TRUE(box.push("config.pam.auth_event.login", "root:sshd:/bin/pmshell:192.0.2.9"));
  for (const Alert& a : kAlerts) {
    EXPECT_TRUE(box.infod().log_contains("Finished action: alert with status 0 for AR: " + std::string(a.name) + " - "))
        << a.name;
  }
  EXPECT_TRUE(box.infod().logged(log_line("Action alert for AR usb, queuing failed")));
  EXPECT_TRUE(box.infod().logged(log_line("Action alert for AR cli, skipped")));

  for (size_t i = 0; i < kAlerts.size(); ++i) {
    const Alert& a = kAlerts[i];
    const Strings calls = box.calls(std::string("/etc/scripts/") + a.script);
    ASSERT_EQ(calls.size(), 1u) << a.name;
    Strings argv = split(calls[0]);
    ASSERT_GT(argv.size(), 5u) << calls[0];
    EXPECT_TRUE(recent_utc_date(argv[4])) << argv[4];
    Strings expected = {a.script, "snmp", std::to_string(i + 1), "1", argv[4], "2"};
    expected.insert(expected.end(), a.tail.begin(), a.tail.end());
    EXPECT_EQ(argv, expected);
  }
  // Nothing ran for the USB rule or the filtered login.
  EXPECT_EQ(box.infod().count_lines(log_line("Finished action: ")), 14);
  expect_clean_end(box);
}

}  // namespace
