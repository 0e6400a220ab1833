// arctl check, arctl's command line and the visible form of values.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "arctl/arctl.h"
#include "arctl/text.h"
#include "support/e2e.h"

namespace {

using e2e::set_all;

std::string r(int n) { return rule_path(n); }

// Four rules of four families, with actions of three kinds, that all work on this machine.
ConfigBuilder sound(const std::string& dir) {
  ConfigBuilder c;
  set_all(c, "config.", "ports.port1.label=one;ports.port2.label=two;ups.ups1.name=Rack UPS;autoresponse.total=4");
  e2e::add_rule(c, 1, "rack", "environmental",
                "enviro.check_type=temp;enviro.dev_ref=config.ports.port1.enviro;enviro.trigger_val=35;"
                "enviro.hysteresis=2;enviro.comparison=greater;trigger_actions.total=1;resolve_actions.total=1");
  set_all(c, r(1) + ".trigger_actions.action1.",
          "name=page;action_type=custom;custom.script=" + dir + "/page.sh;custom.args.total=1;custom.args.arg1=$AR_NAME");
  set_all(c, r(1) + ".resolve_actions.action1.",
          "name=power on;action_type=rpc;rpc.rpc_ref=config.ports.port2;rpc.outlet=3;rpc.action=on");
  e2e::add_rule(c, 2, "modems", "serial_signal",
                "serial.signal.signal=dcd;serial.signal.trigger_val=0;serial.signal.dev_refs.total=2;"
                "serial.signal.dev_refs.dev_ref1=config.ports.port1;serial.signal.dev_refs.dev_ref2=config.ports.port2;"
                "trigger_actions.total=1");
  set_all(c, r(2) + ".trigger_actions.action1.", "name=text;action_type=sms;sms.number=+15551234567;sms.message=x");
  e2e::add_rule(c, 3, "ups", "ups_status", "ups.state.dev_ref=config.ups.ups1;ups.state.trigger_cond=onbatt");
  e2e::add_rule(c, 4, "status", "sms",
                "sms.message_pattern=^status;burst.count=2;burst.window=60;trigger_actions.total=1");
  set_all(c, r(4) + ".trigger_actions.action1.", "name=reply;action_type=sms;sms.message=ok");
  return c;
}

const std::string kApart = "only because this is not the appliance:";

struct Outcome {
  int status;
  std::vector<std::string> findings;  // the lines before the summary, but the heading
  std::string summary, err;
  size_t apart = 0;                   // the findings under the heading of those that only say this is not the appliance
};

Outcome check(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  Outcome run{arctl_main(args, out, err), {}, "", err.str()};
  std::istringstream lines(out.str());
  bool under_heading = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == kApart) {
      under_heading = true;
    } else {
      run.findings.push_back(line);
      run.apart += under_heading ? 1 : 0;
    }
  }
  if (!run.findings.empty()) {
    run.summary = run.findings.back();
    run.findings.pop_back();
    run.apart -= under_heading ? 1 : 0;
  }
  return run;
}

class ArctlCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = dir.path();
    e2e::write_file(dir_ + "/page.sh", "#!/bin/sh\n", 0755);
  }
  Outcome check_config(const ConfigBuilder& c) {
    e2e::write_file(dir_ + "/config.xml", c.xml());
    return check({"check", dir_ + "/config.xml"});
  }
  e2e::TempDir dir;
  std::string dir_;
};

TEST_F(ArctlCheck, ASoundConfigurationHasNoFinding) {
  const Outcome run = check_config(sound(dir_));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.findings, std::vector<std::string>{});
  EXPECT_EQ(run.summary, "4 rules, 5 references, 4 actions loaded; 0 errors, 0 warnings");
}

// A fault and its finding: "error: PATH: " or "warning: PATH: " and the text's start, or else a part of it.
using Make = std::function<void(ConfigBuilder&, const std::string& dir)>;
struct Fault {
  Make make;
  std::string finding, second = "";
};

Make set(const std::string& path, const std::string& value) {
  return [=](ConfigBuilder& c, auto) { c.set(path, value); };
}
Make fifth(const std::string& check_type, const std::string& settings) {
  return [=](ConfigBuilder& c, auto) {
    e2e::add_rule(c.set("config.autoresponse.total", 5), 5, "fifth", check_type, settings);
  };
}
Fault error(const std::string& path, const std::string& value, const std::string& text) {
  return {set(path, value), "error: " + path + ": " + text};
}
Fault warning(const std::string& path, const std::string& value, const std::string& text) {
  return {set(path, value), "warning: " + path + ": " + text};
}

const std::string kAct1 = r(1) + ".trigger_actions.action1", kAct2 = r(2) + ".trigger_actions.action1";
const std::string kRefs1 = r(1) + ".serial.signal.dev_refs", kRefs2 = r(2) + ".serial.signal.dev_refs";

const Fault kFaults[] = {
    error(r(1) + ".check_type", "thermometer", "\"thermometer\" is not a check type, so the daemon skips this rule; "
          "use environmental, power, serial_signal"),
    error(r(1) + ".check_type", "Environmental", "\"Environmental\" is not a check type, so the daemon skips this "
          "rule; the names are lower case: write environmental"),
    error(r(3) + ".name", "", "missing, so the daemon skips this rule"),
    error(kAct2 + ".action_type", "SMS", "\"SMS\" is not an action type, so the daemon skips this whole rule; the "
          "names are lower case: write sms"),
    error(kAct2 + ".action_type", "page", "\"page\" is not an action type"),
    error(kAct2 + ".name", "", "missing, so the daemon skips this whole rule"),
    error(r(1) + ".enviro.dev_ref", "", "missing, so this reference gets no subscription and never triggers"),
    error(r(1) + ".enviro.check_type", "tmep", "\"tmep\" is not a sensor reading, so the rule watches "
          "config.ports.port1.enviro.tmep, which no sensor publishes; did you mean temp?"),
    error(r(1) + ".enviro.comparison", "less", "\"less\" is not a comparison, so the daemon reads it as greater; "
          "did you mean lesser?"),
    error(r(1) + ".enviro.trigger_val", "35C", "\"35C\" is read as 35; write the number alone"),
    error(r(1) + ".enviro.trigger_val", "", "missing, so the daemon discards every update of this rule"),
    error(r(1) + ".enviro.trigger_val", "nan", "\"nan\" is not a finite number"),
    error(r(2) + ".serial.signal.signal", "ring", "\"ring\" is not a signal, so no port reports it and the rule "
          "never triggers; use cts, dcd or dsr"),
    error(r(3) + ".ups.state.trigger_cond", "onbattery", "\"onbattery\" is not a UPS status"),
    {fifth("power", "power.dev_ref=config.ups.ups1;power.check_type=batterycharge;power.trigger_val=20;"
                    "power.hysteresis=5"),
     "error: " + r(5) + ".power.check_type: \"batterycharge\" is not a UPS property, so the daemon discards every "
     "update of this rule; did you mean battery.charge?"},
    error(r(4) + ".sms.message_pattern", "(status", "\"(status\" does not compile (missing closing parenthesis at "
          "offset 7)"),
    error(r(4) + ".sms.message_pattern", "[\\d-.](", "\"[\\d-.](\" does not compile (missing closing parenthesis at "
          "offset 7)"),  // the offset in the pattern as written
    error(r(1) + ".repeat_trigger", "enabled", "\"enabled\" is not a flag, so the daemon reads it as off"),
    error(r(1) + ".reset_timeout", "ten minutes", "\"ten minutes\" is not a number, so the daemon reads it as 0"),
    error(r(1) + ".repeat_timeout", "99999999999", "\"99999999999\" is out of range"),
    // Bursts: both settings or neither, a count of 2 to 1000, a window of a second or more.
    error(r(4) + ".burst.count", "1", "\"1\" is less than 2, so the rule has no burst and triggers on every report; "
          "write 2 or more"),
    error(r(4) + ".burst.count", "five", "\"five\" is not a number, so the daemon reads it as 0"),
    error(r(4) + ".burst.count", "5000", "\"5000\" is more than the 1000 reports a burst counts, so the rule "
          "triggers at the 1000th; write at most 1000"),
    error(r(4) + ".burst.window", "0", "\"0\" is less than 1, so the rule has no burst"),
    error(r(4) + ".burst.window", "", "missing, so the rule has no burst and triggers on every report; set both "
          "count and window, or neither"),
    // Totals that disagree with their lists.
    error("config.autoresponse.total", "3", "is 3, but autoresponse4 is present too and never read; set it to 4"),
    error("config.autoresponse.total", "5", "is 5, but autoresponse5 is missing"),
    {set("config.autoresponse.total", "20000"),
     "error: config.autoresponse.total: is 20000, but autoresponse5 to autoresponse10000 are missing",
     "error: config.autoresponse.total: is more than the 10000 entries the daemon reads"},
    error(r(2) + ".trigger_actions.total", "2", "is 2, but action2 is missing, so the daemon skips this whole rule"),
    error(kRefs2 + ".total", "1", "is 1, but dev_ref2 is present too and never read"),
    error(kRefs2 + ".total", "3", "is 3, but dev_ref3 is missing, so those references get no subscription and "
          "never trigger"),
    error(kAct1 + ".custom.args.total", "3", "is 3, but arg2 and arg3 are missing, so those arguments are passed "
          "empty"),
    {[](ConfigBuilder& c, auto) {
       for (int k = 2; k <= 300; ++k) c.set(kAct1 + ".custom.args.arg" + std::to_string(k), "x");
       c.set(kAct1 + ".custom.args.total", 300);
     },
     "error: " + kAct1 + ".custom.args.total: is more than the 256 arguments the daemon passes, so the action "
     "always fails"},
    {[](ConfigBuilder& c, auto) {
       c.set("config.cms.enabled", "on");
       for (int k = 1; k <= 1025; ++k) c.set("config.cms.cms" + std::to_string(k) + ".delay_time", 0);
     },
     "error: config.cms: is more than the 1024 entries the daemon reads; it reads only the first 1024"},
    {set(r(2) + ".trigger_actions.action01.name", "x"),
     "warning: " + r(2) + ".trigger_actions.action01: is never read: the entries are named action1, action2"},
    {fifth("serial_login", "serial.login.dev_refs.dev_ref1=config.ports.port1"),
     "error: " + r(5) + ".serial.login: neither trigger_login nor trigger_logout is on, so this reference gets no "
     "subscription"},
    {fifth("net_tcp", ""),
     "error: " + r(5) + ".check_type: \"net_tcp\" has no check in this daemon, so the rule is loaded but never "
     "triggers"},
    // References to what this configuration lacks.
    warning(kRefs2 + ".dev_ref2", "config.ports.port9", "this configuration has no port config.ports.port9"),
    warning(r(3) + ".ups.state.dev_ref", "config.ups.ups7", "this configuration has no UPS config.ups.ups7"),
    warning(r(1) + ".enviro.dev_ref", "ports.port1.enviro", "\"ports.port1.enviro\" does not begin with \"config.\""),
    {[](ConfigBuilder& c, const std::string& dir) { c.set(kAct1 + ".custom.script", dir + "/none.sh"); },
     "does not exist on this machine, so the action would end with status 127"},
    {[](ConfigBuilder& c, const std::string& dir) {
       e2e::write_file(dir + "/plain.sh", "#!/bin/sh\n", 0644);
       c.set(kAct1 + ".custom.script", dir + "/plain.sh");
     },
     "is not executable, so the action would end with status 127"},
    {[](ConfigBuilder& c, auto) {
       set_all(c.set(r(4) + ".resolve_actions.total", 1), r(4) + ".resolve_actions.action1.",
               "name=never;action_type=sms;sms.message=x");
     },
     "warning: " + r(4) + ".resolve_actions: never run: rules of type sms have no resolve stage"},
    // Holds: one other rule, by its name, and no cycle.
    {[](ConfigBuilder& c, auto) { set_all(c, r(1) + ".hold_while.", "total=1;rule1=racks"); },
     "error: " + r(1) + ".hold_while.rule1: holds nothing: the daemon logs \"Hold of AR rack while racks refused: no "
     "rule is named so; it is loaded without it\""},
    {[](ConfigBuilder& c, auto) { set_all(c, r(1) + ".hold_while.", "total=1;rule1=rack"); },
     "error: " + r(1) + ".hold_while.rule1: holds nothing: the daemon logs \"Hold of AR rack while rack refused: a "
     "rule cannot hold itself"},
    {[](ConfigBuilder& c, auto) {
       set_all(c, r(1) + ".hold_while.", "total=1;rule1=ups");
       set_all(c, r(3) + ".hold_while.", "total=1;rule1=rack");
     },
     "error: " + r(3) + ".hold_while.rule1: holds nothing: the daemon logs \"Hold of AR ups while rack refused: it "
     "closes a cycle of holds: ups -> rack -> ups"},
    {[](ConfigBuilder& c, auto) {
       set_all(c.set(r(4) + ".name", "ups"), r(1) + ".hold_while.", "total=1;rule1=ups");
     },
     "error: " + r(1) + ".hold_while.rule1: holds nothing: the daemon logs \"Hold of AR rack while ups refused: 2 "
     "rules are named so"},
    // Disable schedules.
    {set(r(1) + ".disable.day3.start_hour", "22"),
     "error: " + r(1) + ".disable.day0.start_hour: missing, so the daemon ignores the whole disable schedule"},
    {[](ConfigBuilder& c, auto) {
       set_all(c, r(1) + ".disable.day0.", "start_hour=22;start_min=0;end_hour=24;end_min=0");
     },
     "error: " + r(1) + ".disable.day0.end_hour: \"24\" is no hour (0 to 23)"},
    {[](ConfigBuilder& c, auto) {
       set_all(c, r(1) + ".disable.day0.", "start_hour=22;start_min=0;end_hour=2;end_min=0");
     },
     "warning: " + r(1) + ".disable.day0: the window ends at 02:00, not after it starts at 22:00, so it disables "
     "nothing"},
    // Settings of one action type or check family.
    {set(r(1) + ".resolve_actions.action1.rpc.action", "of"),
     "error: " + r(1) + ".resolve_actions.action1.rpc.action: \"of\" is not an outlet action, so pmpower refuses it "
     "and the outlet stays as it is; use on, off or cycle"},
    {set(kAct2 + ".sms.number", "+1 555 1234567"),
     "warning: " + kAct2 + ".sms.number: \"+1 555 1234567\" has a blank inside a number, so the daemon texts each "
     "part as a number of its own"},
    {set(kAct2 + ".sms.number", "+1555-1234567, +15557654321"),
     "warning: " + kAct2 + ".sms.number: \"+1555-1234567, +15557654321\" holds \"-\", which is no part of a phone "
     "number"},
    {set(kAct2 + ".sms.number", ""),
     "error: " + kAct2 + ".sms: neither number nor gateway_email is set, so the action fails"},
    {[](ConfigBuilder& c, auto) {
       set_all(c, kAct2 + ".", "action_type=conman;conman.ref=config.interfaces.wan;conman.action=up");
     },
     "error: " + kAct2 + ".conman.action: \"up\" is not an interface action, so the daemon stops the interface; use "
     "start or stop"},
    {[](ConfigBuilder& c, auto) {
       fifth("usb_console_status", "usb_console_status.dev_refs.dev_ref1=config.ports.port1;"
                                   "usb_console_status.trigger_connect=on;trigger_actions.total=1")(c, "");
       set_all(c, r(5) + ".trigger_actions.action1.", "name=trap;action_type=snmp");
     },
     "error: " + r(5) + ".trigger_actions.action1.action_type: rules of type usb_console_status have no SNMP alert"},
    {fifth("alarm", "alarm.dev_ref=config.ports.port1"),
     "error: " + r(5) + ".alarm.pin: missing, so this reference gets no subscription and never triggers"},
    {fifth("conman", "conman.ref=config.interfaces.wan2;conman.event_mask=1"),
     "error: " + r(5) + ".conman.ref: \"config.interfaces.wan2\" is not an interface the appliance watches"},
    {fifth("conman", "conman.ref=config.interfaces.wan;conman.event_mask=16"),
     "error: " + r(5) + ".conman.event_mask: no event is chosen, so every update is discarded"},
    {fifth("webui_login", "webui_login.trigger_login=off"),
     "error: " + r(5) + ".webui_login: none of trigger_login, trigger_logout and trigger_auth_error is on"},
    {fifth("routeddata", "routeddata.interface=config.interfaces.wan;routeddata.data_limit=1000"),
     "error: " + r(5) + ".routeddata.data_period: missing or 0, so no readings are added up"},
    // Elements nothing reads, and the setting nearest to each.
    warning(kAct1 + ".delaytime", "60", "`delaytime` is not a setting of an action; did you mean `delay_time`?"),
    warning(r(1) + ".reset_timout", "600", "`reset_timout` is not a setting of a rule; did you mean `reset_timeout`?"),
    {set(r(3) + ".repeat_triger", "on"),
     "warning: " + r(3) + ".repeat_triger: `repeat_triger` is not a setting of a rule; did you mean `repeat_trigger`?"},
    {set(r(2) + ".serial.signal.dev_refs.devref2", "config.ports.port2"),
     "warning: " + kRefs2 + ".devref2: `serial.signal.dev_refs.devref2` is not a setting of a serial_signal check; "
     "did you mean `serial.signal.dev_refs.dev_ref2`?"},
};

TEST_F(ArctlCheck, EachFaultIsReportedOnceAtItsPath) {
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.finding);
    ConfigBuilder c = sound(dir_);
    fault.make(c, dir_);
    const Outcome run = check_config(c);
    const bool error = fault.finding.compare(0, 6, "error:") == 0;
    EXPECT_EQ(run.status, error ? 1 : 0);
    ASSERT_EQ(run.findings.size(), fault.second.empty() ? 1u : 2u) << ::testing::PrintToString(run.findings);
    if (!fault.second.empty()) {
      EXPECT_EQ(run.findings[1].compare(0, fault.second.size(), fault.second), 0) << run.findings[1];
    }
    const std::string& line = run.findings[0];
    if (fault.finding.compare(0, 7, "error: ") == 0 || fault.finding.compare(0, 9, "warning: ") == 0) {
      EXPECT_EQ(line.compare(0, fault.finding.size(), fault.finding), 0) << line;
    } else {
      EXPECT_NE(line.find(fault.finding), std::string::npos) << line;
    }
    const std::string counts = error ? (fault.second.empty() ? "; 1 error, 0 warnings" : "; 2 errors, 0 warnings")
                                     : "; 0 errors, 1 warning";
    EXPECT_NE(run.summary.find(counts), std::string::npos) << run.summary;
  }
}

// A rule on port 4 of a file of rules alone (no ports, no other device), with a page that this machine lacks.
ConfigBuilder rules_alone() {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 1);
  e2e::add_rule(c, 1, "rack \"4\" \\ Kühlraum", "serial_signal",
                "serial.signal.signal=dcd;serial.signal.trigger_val=0;serial.signal.dev_refs.total=1;"
                "serial.signal.dev_refs.dev_ref1=config.ports.port4;trigger_actions.total=1");
  set_all(c, r(1) + ".trigger_actions.action1.", "name=page;action_type=custom;custom.script=/nonexistent/page.sh");
  return c;
}

// --strict fails on warnings but those that only say this is not the appliance, --strict=all on those too;
// errors fail whatever the option. Those warnings are listed last, under their own heading.
TEST_F(ArctlCheck, StrictFailsOnWarningsAndWithAllOnThoseOfAMachineThatIsNotTheAppliance) {
  struct Row {
    const char* what;
    Make make;
    size_t apart;  // of the findings, those under the heading
    int plain, strict, all;
  };
  const Row rows[] = {
      {"none", [](ConfigBuilder&, auto) {}, 0, 0, 0, 0},
      {"an element nothing reads", set(kAct1 + ".delaytime", "60"), 0, 0, 1, 1},
      {"a port the appliance's whole file lacks", set(kRefs2 + ".dev_ref2", "config.ports.port9"), 0, 0, 1, 1},
      {"a script this machine lacks",
       [](ConfigBuilder& c, const std::string& d) { c.set(kAct1 + ".custom.script", d + "/none.sh"); }, 1, 0, 0, 1},
      {"a port and a script that a file of rules alone lacks", [](ConfigBuilder& c, auto) { c = rules_alone(); },
       2, 0, 0, 1},
      {"a script this machine lacks, an element nothing reads and an error",
       [](ConfigBuilder& c, const std::string& d) {
         c.set(kAct1 + ".custom.script", d + "/none.sh").set(kAct1 + ".delaytime", "60");
         c.set(r(1) + ".enviro.comparison", "less");
       },
       1, 1, 1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ConfigBuilder c = sound(dir_);
    row.make(c, dir_);
    e2e::write_file(dir_ + "/config.xml", c.xml());
    const Outcome plain = check({"check", dir_ + "/config.xml"});
    EXPECT_EQ(plain.status, row.plain);
    EXPECT_EQ(plain.apart, row.apart);
    if (row.apart > 0) {
      EXPECT_NE(plain.summary.find("(" + std::to_string(row.apart) + " only because this is not the appliance)"),
                std::string::npos) << plain.summary;
    }
    const Outcome strict = check({"check", "--strict", dir_ + "/config.xml"});
    EXPECT_EQ(strict.status, row.strict);
    EXPECT_EQ(strict.findings, plain.findings);
    EXPECT_EQ(check({"check", dir_ + "/config.xml", "--strict=all"}).status, row.all);
    EXPECT_EQ(check({"check", "--json", "--strict", dir_ + "/config.xml"}).status, row.strict);
  }
}

// Where in document the first element named name starts, as a finding in JSON ends: the file, line and column.
std::string json_place(const std::string& file, const std::string& document, const std::string& name) {
  const size_t at = document.find("<" + name + ">"), line_start = document.rfind('\n', at) + 1;
  const auto line = std::count(document.begin(), document.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1;
  return ", \"file\": \"" + file + "\", \"line\": " + std::to_string(line) + ", \"column\": " +
         std::to_string(at - line_start + 1) + "}";
}

// The JSON form holds each finding with its place; the text as it is, escaped as JSON needs.
TEST_F(ArctlCheck, JsonHoldsEveryFindingWithItsPlace) {
  const std::string file = dir_ + "/config.xml", document = rules_alone().set(kAct1 + ".delaytime", "60").xml();
  e2e::write_file(file, document);
  std::ostringstream out, err;
  EXPECT_EQ(arctl_main({"check", "--json", "--strict", file}, out, err), 1);
  const std::string where = "\"rule\": 1, \"rule_name\": \"rack \\\"4\\\" \\\\ Kühlraum\", ";
  EXPECT_EQ(out.str(),
            "{\"file\": \"" + file + "\", \"status\": 1, \"strict\": \"warnings\",\n"
            " \"loaded\": {\"rules\": 1, \"references\": 1, \"actions\": 1},\n"
            " \"counts\": {\"errors\": 0, \"warnings\": 3, \"not_appliance\": 2},\n"
            " \"findings\": [\n"
            "  {\"severity\": \"warning\", \"kind\": \"device\", \"not_appliance\": true, \"path\": \"" + kRefs1 +
            ".dev_ref1\", " + where + "\"reference\": 1, \"action_list\": null, \"action\": null, \"text\": \"this "
            "configuration has no port config.ports.port4, so nothing will report for it; check the name\"" +
            json_place(file, document, "dev_ref1") + ",\n"
            "  {\"severity\": \"warning\", \"kind\": \"script\", \"not_appliance\": true, \"path\": \"" + kAct1 +
            ".custom.script\", " + where + "\"reference\": null, \"action_list\": \"trigger\", \"action\": 1, \"text\": "
            "\"/nonexistent/page.sh does not exist on this machine, so the action would end with status 127\"" +
            json_place(file, document, "script") + ",\n"
            "  {\"severity\": \"warning\", \"kind\": \"unread\", \"not_appliance\": false, \"path\": \"" + kAct1 +
            ".delaytime\", " + where + "\"reference\": null, \"action_list\": \"trigger\", \"action\": 1, \"text\": "
            "\"`delaytime` is not a setting of an action; did you mean `delay_time`?\"" +
            json_place(file, document, "delaytime") + "\n"
            "]}\n");
  EXPECT_EQ(err.str(), "");
}

// --format=gcc writes each finding as a compiler writes a diagnostic, for a CI to annotate the line: the start
// of its element, or of the element that lacks a missing one; the text as the default output has it, in its
// order.
TEST_F(ArctlCheck, TheCompilersFormPlacesEachFindingAtItsElement) {
  const std::string file = dir_ + "/config.xml";
  e2e::write_file(file,
                  "<?xml version=\"1.0\"?>\n"
                  "<config>\n"
                  "  <autoresponse>\n"
                  "    <total>1</total>\n"
                  "    <autoresponse1>\n"
                  "      <name>rack</name><check_type>environmental</check_type>\n"
                  "      <enviro>\n"
                  "        <check_type>temp</check_type><hysteresis>2</hysteresis>\n"
                  "        <dev_ref>config.ports.port4.enviro</dev_ref>\n"
                  "        <comparison>less</comparison>\n"
                  "      </enviro>\n"
                  "\t<delaytime>60</delaytime>\n"
                  "    </autoresponse1>\n"
                  "  </autoresponse>\n"
                  "</config>\n");
  const std::string rule = r(1);
  const Outcome text = check({"check", file}), gcc = check({"check", "--format=gcc", file});
  EXPECT_EQ(gcc.status, 1);
  EXPECT_EQ(gcc.summary, text.summary);
  EXPECT_EQ(gcc.findings,
            (std::vector<std::string>{
                file + ":7:7: " + text.findings[0],   // enviro.trigger_val is missing: its <enviro>
                file + ":10:9: " + text.findings[1],  // <comparison>
                file + ":12:2: " + text.findings[2],  // <delaytime>, after a tab
                file + ":9:9: " + text.findings[3] + " [not-appliance]",
            }));
  EXPECT_EQ(text.findings[0].rfind("error: " + rule + ".enviro.trigger_val: missing", 0), 0u) << text.findings[0];
  EXPECT_EQ(text.findings[3].rfind("warning: " + rule + ".enviro.dev_ref: ", 0), 0u) << text.findings[3];
  EXPECT_EQ(check({"check", "--format", "text", file}).findings, check({"check", file}).findings);
}

// A file that cannot be read or parsed says why and exits 2, in every form; anything not a regular file at once.
// A file that is not well-formed is placed where the parser stopped, in the compiler's form and in JSON.
TEST_F(ArctlCheck, AFileThatCannotBeReadOrParsedExitsTwo) {
  ASSERT_EQ(mkfifo((dir_ + "/fifo").c_str(), 0600), 0);
  const std::string absent = dir_ + "/absent.xml", broken = dir_ + "/broken.xml", other = dir_ + "/other.xml";
  e2e::write_file(broken, "<config>\n  <autoresponse>\n    <total>1</totl>\n  </autoresponse>\n</config>\n");
  e2e::write_file(other, "<settings/>\n");
  const std::string unread = "arctl: cannot read " + absent + ": No such file or directory",
                    mismatched = "arctl: " + broken + ": mismatched tag at line 3, column 15";
  const struct { Strings args; std::string out, err; } rows[] = {
      {{dir_ + "/fifo"}, "", "error: " + dir_ + "/fifo: not a regular file\n"},
      {{"/dev/null"}, "", "error: /dev/null: not a regular file\n"},
      {{absent}, "", unread + "\n"},
      {{"--json", absent}, "{\"file\": \"" + absent + "\", \"status\": 2, \"error\": \"" + unread + "\"}\n",
       unread + "\n"},
      {{broken}, "", mismatched + "\n"},
      {{"--format=gcc", broken}, broken + ":3:15: error: mismatched tag\n", mismatched + "\n"},
      {{"--json", broken},
       "{\"file\": \"" + broken + "\", \"status\": 2, \"error\": \"" + mismatched +
           "\", \"line\": 3, \"column\": 15}\n",
       mismatched + "\n"},
      {{other}, "", "arctl: " + other + ": the root element is not <config>\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    Strings args{"check"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    std::ostringstream out, err;
    EXPECT_EQ(arctl_main(args, out, err), 2);
    EXPECT_EQ(out.str(), row.out);
    EXPECT_EQ(err.str(), row.err);
  }
  // XMLDB_PATH names the file when none is given, as for the database.
  setenv("XMLDB_PATH", broken.c_str(), 1);
  const Outcome run = check({"check"});
  unsetenv("XMLDB_PATH");
  EXPECT_EQ(run.err, mismatched + "\n");
}

TEST(ArctlCommandLine, HelpIsCompleteAndMistakesExitTwoWithTheUsage) {
  std::ostringstream out, err;
  EXPECT_EQ(arctl_main({"--help"}, out, err), 0);
  for (const char* command : {"check [--strict[=all]] [--json | --format=gcc] [FILE]",
                              "status [--socket PATH] [--pid-file PATH] [--json]",
                              "reload [--socket PATH] [--pid-file PATH]",
                              "cancel [--socket PATH] [--pid-file PATH] [--as NAME] RULE",
                              "log [-f] [-n N] [--syslog FILE] [--socket PATH]"}) {
    EXPECT_NE(out.str().find(command), std::string::npos) << command;
  }
  for (const std::string command : {"check", "status", "reload", "cancel", "log"}) {
    std::ostringstream help;
    EXPECT_EQ(arctl_main({command, "--help"}, help, err), 0);
    EXPECT_EQ(help.str().rfind("usage: arctl " + command, 0), 0u) << help.str();
    EXPECT_NE(help.str().find("Exit status:"), std::string::npos) << help.str();
  }
  EXPECT_EQ(err.str(), "");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"start"}, {"--verbose"}, {"check", "a", "b"}, {"check", "--socket", "x"}, {"status", "--socket"},
           {"status", "extra"}, {"cancel"}, {"log", "-x"}, {"log", "--socket", "a", "--socket", "b"},
           // Who cancels is a field of a comma-separated command and lands in the daemon's log.
           {"cancel", "--as", "ops,admin", "1"}, {"cancel", "--as=", "1"}, {"cancel", "--as", "ops\tnight", "1"},
           {"cancel", "--as", "ops\n", "1"}, {"cancel", "--as", "\x7f", "1"}, {"cancel", "1", "--as"},
           {"cancel", "--as", "a", "--as", "b", "1"}, {"status", "--as", "ops"}, {"log", "--syslog"},
           {"log", "--syslog="}, {"status", "--syslog", "f"}, {"reload", "x"}, {"reload", "--pid-file="},
           {"cancel", "1", "--pid-file"}, {"status", "--pid-file"}, {"check", "--strict=warnings"},
           {"check", "--strict", "--strict=all"}, {"check", "--format=xml"}, {"check", "--format"},
           {"check", "--json", "--format=gcc"}, {"status", "--format=gcc"}, {"log", "--json"}, {"log", "--strict"}, {"log", "-n"},
           {"log", "-n", "x"}, {"log", "-n-1"}, {"log", "--lines=1000001"}, {"log", "-n", "1", "-n", "2"}}) {
    std::ostringstream o, e;
    EXPECT_EQ(arctl_main(args, o, e), 2) << ::testing::PrintToString(args);
    EXPECT_EQ(o.str(), "");
    EXPECT_NE(e.str().find("\nusage: arctl "), std::string::npos) << e.str();
  }
}

TEST(ArctlText, ControlCharactersAndBrokenUtf8AreShownNeverRaw) {
  EXPECT_EQ(visible("+15551234567:reboot\x1enow"), "+15551234567:reboot\\x1enow");
  EXPECT_EQ(visible("a\tb\nc\rd\x1b[2J\x7f"), "a\\tb\\nc\\rd\\x1b[2J\\x7f");
  EXPECT_EQ(visible("Kühlraum 5 °C"), "Kühlraum 5 °C");
  EXPECT_EQ(visible("\xff\xc3"), "\\xff\\xc3");         // no UTF-8; a sequence cut short
  EXPECT_EQ(visible("\xc2\x9b" "2J"), "\\xc2\\x9b2J");  // a C1 control: the terminal's CSI
  EXPECT_EQ(visible("\xe0\x80\xaf"), "\\xe0\\x80\\xaf");  // an overlong '/'
  EXPECT_EQ(display_width("Kühlraum"), 8u);
  // JSON: every byte string valid; a byte that is no UTF-8 is \u00HH of that byte.
  EXPECT_EQ(json_string("a\"b\\c/"), "\"a\\\"b\\\\c/\"");
  EXPECT_EQ(json_string("\t\n\r\x01\x1e\x7f"), "\"\\t\\n\\r\\u0001\\u001e\\u007f\"");
  EXPECT_EQ(json_string("Kühlraum 5 °C \xc2\x85"), "\"Kühlraum 5 °C \xc2\x85\"");  // a C1 control is valid JSON
  EXPECT_EQ(json_string("\xff\xc3 \xe0\x80\xaf"), "\"\\u00ff\\u00c3 \\u00e0\\u0080\\u00af\"");
  EXPECT_EQ(json_string(std::string("\0", 1)), "\"\\u0000\"");
  std::ostringstream table;
  print_table(table, {{"#", "NAME", "STATE"}, {"10", "Kühlraum", "Normal"}, {"2", "x", "Triggered"}});
  EXPECT_EQ(table.str(), "#   NAME      STATE\n10  Kühlraum  Normal\n2   x         Triggered\n");
}

}  // namespace
