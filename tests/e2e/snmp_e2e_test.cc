// Every check family through the real daemon into its SNMP alert script's recording stand-in.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/e2e.h"
#include "support/simulated.h"
#include "support/zone_guard.h"

namespace {

using namespace e2e;

// Rule n: name, check type, settings; the update that triggers it; its script and the arguments after the head.
struct Alert {
  const char *name, *check_type, *settings;
  std::string key;
  const char *value, *script, *tail;
};

const Alert kAlerts[] = {
    {"rack", "environmental",
     "enviro.check_type=temp;enviro.dev_ref=config.ports.port1.enviro;enviro.trigger_val=30;enviro.hysteresis=1;"
     "enviro.comparison=greater",
     "config.ports.port1.enviro.temp", "35.6", "environmental-alert", "Rack sensor|QTH5200|temp|35|30|greater"},
    {"door", "alarm", "alarm.dev_ref=config.devices.device1;alarm.pin=input2;alarm.trigger_value=1",
     "config.devices.device1.input2", "1", "dio-alert", "Door contact|1|1|IO Box"},
    {"mains", "power",
     "power.check_type=voltage;power.dev_ref=config.ups.ups1;power.trigger_val=250;power.hysteresis=5;"
     "power.comparison=greater",
     "config.ups.ups1.status.input.voltage", "261.5", "power-alert", "Main UPS|UPS|voltage|261|250|greater"},
    {"errors", "serial_pattern",
     "serial.pattern.dev_refs.dev_ref1=config.ports.port4;serial.pattern.pattern=ERROR;serial.pattern.trigger_rx=on",
     "config.ports.port4.serial.event.pattern4.rx", "ERROR disk", "portmanager-pattern-alert",
     "errors|4|Router|ERROR disk"},
    {"carrier", "serial_signal",
     "serial.signal.dev_refs.dev_ref1=config.ports.port5;serial.signal.signal=dcd;serial.signal.trigger_val=1",
     "config.ports.port5.serial.event.signal.dcd", "1", "portmanager-signal-alert", "5|Modem line|2|1|1"},
    {"logins", "serial_login", "serial.login.dev_refs.dev_ref1=config.ports.port6;serial.login.trigger_login=on",
     "config.ports.port6.serial.event.user.login", "root", "portmanager-user-alert", "LOGIN|6|Switch|root"},
    {"battery", "ups_status", "ups.state.dev_ref=config.ups.ups2;ups.state.trigger_cond=onbatt",
     "config.ups.ups2.event.status", "onbatt", "ups-status-alert", "Backup UPS|onbatt"},
    {"cell", "celldata", "celldata.cell_device=Modem A;celldata.data_period=30;celldata.data_limit=1000",
     rule_path(8) + ".celldata.alert", "TRIGGER:1200", "devlog-data-alert", "Modem A|1200|30|1000"},
    {"gateway", "net_ping", "net.ping.address=192.0.2.1", rule_path(9) + ".check.status", "3", "host-alert",
     "192.0.2.1|N/A|3|0"},
    {"disk", "custom", "custom.script=/etc/scripts/check-disk;custom.trigger_code=0", rule_path(10) + ".check.status",
     "2", "custom-alert", "/etc/scripts/check-disk|2|0"},
    {"reboot", "sms", "sms.phone_number=+61400000011;sms.message_pattern=reboot", "config.sms.incoming",
     "+61400000011:reboot now", "sms-alert", "+61400000011:reboot now|+61400000011|reboot"},
    {"web", "webui_login", "webui_login.trigger_login=on", "config.webui.auth_event.login", "admin:[2001:db8::7]:https",
     "webui-user-alert", "LOGIN|admin|[2001:db8::7]|https"},
    {"wan", "conman", "conman.ref=config.interfaces.wan;conman.event_mask=1", "conman.network-connection-wan-up.status",
     "down", "network-interface-alert",
     "Network Interface|Ethernet|1|conman.network-connection-wan-up.status: down|N/A"},
    {"cli", "cli_login", "cli_login.trigger_login=on", "config.pam.auth_event.login", "root:sshd:/bin/bash:192.0.2.9",
     "cli-user-alert", "LOGIN|root|SSH Service|192.0.2.9"},
};
constexpr int kRules = 14;

const char* const kDevices =
    "ports.port1.enviro.name=Rack sensor;devices.device1.name=IO Box;devices.device1.alarms.input2.label=Door contact;"
    "ups.ups1.name=Main UPS;ports.port4.label=Router;ports.port5.label=Modem line;ports.port6.label=Switch;"
    "ups.ups2.name=Backup UPS";

TEST(SnmpE2e, EveryFamilyTriggersAndEveryScriptGetsItsWholeArgumentVector) {
  Sandbox box;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 18).set("config.autoresponse.concurrent_actions", 20);
  set_all(c, "config.", kDevices);
  for (int n = 1; n <= kRules; ++n) {
    add_rule(c, n, kAlerts[n - 1].name, kAlerts[n - 1].check_type, kAlerts[n - 1].settings);
    fake(box, std::string("/etc/scripts/") + kAlerts[n - 1].script);
  }
  add_rule(c, 15, "r15", "usb_console_status",
           "usb_console_status.dev_refs.dev_ref1=config.usb.port1;usb_console_status.trigger_disconnect=on");
  // Rules 16 to 18 are alarms at first: a rule of a kind without a check cannot be loaded.
  for (int n : {16, 17, 18}) {
    add_rule(c, n, "r" + std::to_string(n), "alarm",
             "alarm.dev_ref=config.devices.device2;alarm.trigger_value=1;alarm.pin=" + std::to_string(n));
  }
  for (int n = 1; n <= 18; ++n) {
    add_action(c.set(rule_path(n) + ".trigger_actions.total", 1), n, "trigger_actions", 1, "alert", "snmp");
  }
  add_script(c, 18, "trigger_actions", 2, "after", box.path("/bin/act"));
  fake(box, "/bin/act");
  box.write_config(c);
  ASSERT_TRUE(box.infod.start());
  {
    ZoneGuard utc("UTC");
    ASSERT_TRUE(box.start_daemon());
  }
  ASSERT_TRUE(box.infod.logged(state_line(18, "Normal")));
  // An edit not yet loaded changes no alert: each rule keeps the kind, and
  // so the script, it was loaded with.
  const ConfigBuilder loaded = c;
  c.set(rule_path(16) + ".check_type", "routeddata").set(rule_path(17) + ".check_type", "net_tcp");
  box.write_config(c.set(rule_path(18) + ".check_type", "celldata"));

  for (const Alert& a : kAlerts) ASSERT_TRUE(box.push(a.key, a.value)) << a.name;
  ASSERT_TRUE(box.push("config.usb.port1.dev.usb.event", "disconnected"));
  for (int n : {16, 17, 18}) ASSERT_TRUE(box.push("config.devices.device2." + std::to_string(n), "1"));
  for (int n = 1; n <= kRules; ++n) {
    const Alert& a = kAlerts[n - 1];
    SCOPED_TRACE(a.name);
    ASSERT_TRUE(
        box.infod.logged(log_line("Finished action: alert with status 0 for AR: " + std::string(a.name) + " - ")));
    const std::string script = std::string("/etc/scripts/") + a.script, head = "|snmp|" + std::to_string(n) + "|1|";
    const Strings calls = real_calls(box, script);
    const auto own =
        std::find_if(calls.begin(), calls.end(), [&](const std::string& call) { return call.rfind(head, 0) == 0; });
    EXPECT_EQ(own != calls.end() ? *own : "", head + "<time>|2|" + a.tail);  // time64_test reads the time
  }
  for (int n : {16, 17, 18}) {
    const std::string rule = "r" + std::to_string(n);
    ASSERT_TRUE(box.infod.logged(log_line("Finished action: alert with status 0 for AR: " + rule + " - "))) << n;
    EXPECT_NE(box.calls("/etc/scripts/dio-alert").find("dio-alert|snmp|" + std::to_string(n) + "|1|"),
              std::string::npos) << n;
  }
  EXPECT_TRUE(box.infod.logged(log_line("Action alert for AR r15, queuing failed")));
  EXPECT_TRUE(box.daemon_logged("No snmp alert script for usb_console_status checks"));
  EXPECT_TRUE(box.infod.logged(log_line("Finished action: after with status 0 for AR: r18")));
  EXPECT_EQ(box.calls("/bin/act"), box.path("/bin/act") + "\n");
  // arctl test's simulation of the families' updates runs every script with the same arguments.
  std::vector<std::pair<std::string, std::string>> updates;
  for (const Alert& a : kAlerts) updates.emplace_back(a.key, a.value);
  updates.emplace_back("config.usb.port1.dev.usb.event", "disconnected");
  for (int n : {16, 17, 18}) updates.emplace_back("config.devices.device2." + std::to_string(n), "1");
  const Simulated sim = simulate_updates(loaded, updates, box.path(""));
  for (const Alert& a : kAlerts) {
    const std::string script = std::string("/etc/scripts/") + a.script;
    EXPECT_EQ(sim.count(script) ? sim.at(script) : Strings{}, real_calls(box, script)) << script;
  }
  expect_clean_end(box);
}

}  // namespace
