// arctl status, reload, cancel, silence and log against the development infod and daemon.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine/restart_record.h"
#include "support/e2e.h"

namespace {

using namespace e2e;

const char kPidFile[] = "/var/run/autoresponsed.pid";

// Runs arctl with args and env in box; whatever it says, no sanitizer reports anything.
Ran run_arctl(const Sandbox& box, const Strings& args, const std::map<std::string, std::string>& env) {
  unlink(box.path("/arctl.err").c_str());
  // 10,000 rules take a while under an emulator.
  const Ran r = run(built_command("arctl"), args, box.path("/arctl.out"), box.path("/arctl.err"), env, 150000);
  expect_no_sanitizer_report(box.path("/arctl.err"));
  return r;
}

// Runs arctl with args on box's infod socket, pid file and configuration, not run through sudo unless sudo_user
// is given.
Ran arctl(const Sandbox& box, Strings args, const std::string& sudo_user = "") {
  args.insert(args.begin() + 1, {"--socket", box.path("/var/run/infod-sock")});
  if (args[0] == "status" || args[0] == "reload" || args[0] == "cancel" || args[0] == "silence" ||
      args[0] == "unsilence" || args[0] == "explain") {
    args.insert(args.begin() + 1, {"--pid-file", box.path(kPidFile)});
  }
  return run_arctl(box, args, {{"XMLDB_PATH", box.path("/etc/config/config.xml")}, {"SUDO_USER", sudo_user}});
}

// text with each local time ("2026-12-07 12:53:27") written as YYYY-MM-DD hh:mm:ss, which keeps columns aligned.
std::string masked(const std::string& text) {
  return std::regex_replace(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"), "YYYY-MM-DD hh:mm:ss");
}

// The seconds since the epoch of a local time as arctl shows it.
time_t local_seconds(const std::string& text) {
  struct tm t {};
  t.tm_isdst = -1;
  strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &t);
  return mktime(&t);
}

// Rules 1, 2, ... named names, each on the sensor of its own port (add_enviro_rule).
ConfigBuilder named(const Strings& names) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", static_cast<long>(names.size()));
  for (size_t n = 0; n < names.size(); ++n) add_enviro_rule(c, static_cast<int>(n) + 1, names[n]);
  return c;
}

// Rules 1 (a sensor, quiet for 10 minutes after a cancel), 2 (SMS) and 3 (not loaded: no such check type).
Sandbox& start(Sandbox& box) {
  ConfigBuilder c = named({"rack"}).set("config.autoresponse.total", 3);
  c.set(rule_path(1) + ".reset_timeout", 600);
  add_rule(c, 2, "status", "sms", "sms.message_pattern=^status");
  add_rule(c, 3, "broken", "thermometer", "");
  // The load's result comes after the rules' kept records, which say since when each state holds.
  EXPECT_TRUE(box.start(c, "<- push config.autoresponse.daemon.reload.result 0 ok"));
  return box;
}

// status shows what the daemon runs, also after an edit not applied or with the file broken, and that it is
// not running once its heartbeat stops; reload applies only a sound file.
TEST(ArctlE2e, StatusShowsWhatTheDaemonRunsAndReloadAppliesOnlyASoundFile) {
  Sandbox box;
  start(box);
  const std::string head =
      "#  NAME    CHECK          REFERENCE                    STATE       SINCE                VALUE\n";
  Ran r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(masked(r.out.substr(0, r.out.find("\n\nlast load: "))),
            head + "1  rack    environmental  1 config.ports.port1.enviro  Normal      YYYY-MM-DD hh:mm:ss  -\n"
                   "2  status  sms            1                            Normal      YYYY-MM-DD hh:mm:ss  -\n"
                   "3  broken  thermometer    -                            not loaded  -                    -");
  EXPECT_NE(r.out.find(": ok\n\nqueue: 0 running, 0 waiting\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "arctl: the daemon does not load some rules or references; 'arctl check' tells why\n");

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  // The value of an SMS carries infod's field separator: shown, never raw.
  ASSERT_TRUE(box.push("config.sms.incoming", "+15551234567:status\x1enow"));
  ASSERT_TRUE(box.infod.logged(log_line("AR: name=status, index=2, ref=1, state=Triggered, "
                                         "event=config.sms.incoming, value=+15551234567:status|now")));
  // The rule has no resolve stage: it is Normal again once it has triggered.
  const std::string table =
      head + "1  rack    environmental  1 config.ports.port1.enviro  Triggered   YYYY-MM-DD hh:mm:ss  31.5\n"
             "2  status  sms            1                            Normal      YYYY-MM-DD hh:mm:ss  "
             "+15551234567:status\\x1enow\n"
             "3  broken  thermometer    -                            not loaded  -                    -\n";
  EXPECT_TRUE(eventually([&] { return masked((r = arctl(box, {"status"})).out).rfind(table, 0) == 0; })) << r.out;

  const ConfigBuilder c = named({"rack-renamed"});
  box.write_config(c);
  r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(masked(r.out).rfind("#  NAME    CHECK          REFERENCE  STATE      SINCE                VALUE\n"
                                "1  rack    environmental  1          Triggered  YYYY-MM-DD hh:mm:ss  31.5\n"
                                "2  status  sms            1          Normal     YYYY-MM-DD hh:mm:ss  "
                                "+15551234567:status\\x1enow\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("changed since the daemon loaded it at "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("; 'arctl reload' applies it\n"), std::string::npos) << r.out;

  // A broken file: reload refuses it; a SIGHUP all the same leaves the rules running and says why in status.
  write_file(box.path("/etc/config/config.xml"), "<config>\n<autoresponse>\n");
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("arctl: not reloaded: " + box.path("/etc/config/config.xml") + " cannot be read"), std::string::npos)
      << r.err;
  kill(box.daemon_pid(), SIGHUP);
  ASSERT_TRUE(box.daemon_logged("Could not open " + box.path("/etc/config/config.xml") + ": no element found at line 3"));
  // The rules run on, but the last load failed: exit 1.
  r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("#  NAME    CHECK          REFERENCE  STATE      SINCE ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(": no element found at line 3, column 1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("arctl: the daemon's last load failed; it runs the rules it loaded before\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("cannot be read as a configuration ('arctl check' tells why); these are the rules the daemon "
                       "runs\n"), std::string::npos) << r.out;

  box.write_config(c);
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("reloaded " + box.path("/etc/config/config.xml") + "\n"
                       "0 rules unchanged, 1 changed: rack-renamed carried; 1 removed: status\n"), std::string::npos)
      << r.out;
  // The rename kept the reference's key: its state carried on.
  r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(masked(r.out).rfind("#  NAME          CHECK          REFERENCE                    STATE      SINCE                "
                                "VALUE\n"
                                "1  rack-renamed  environmental  1 config.ports.port1.enviro  Triggered  "
                                "YYYY-MM-DD hh:mm:ss  31.5\n", 0), 0u) << r.out;

  // Killed: its pid is gone at once, whatever the heartbeat says (here one far ahead); infod keeps its last
  // heartbeat, which grows old (here made old at once).
  const std::string pid = std::to_string(box.daemon_pid());
  kill(box.daemon_pid(), SIGKILL);
  box.daemon_exit();
  ASSERT_TRUE(box.push("config.autoresponse.daemon.heartbeat", std::to_string(time(nullptr) + 3600)));
  r = arctl(box, {"status", "--json"});
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("\"running\": false, \"why\": \"no process " + pid + " is running\"},\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"rules\": null, \"queue\": null, \"silences\": null}\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "arctl: daemon not running: no process " + pid + " is running\n");
  ASSERT_TRUE(box.push("config.autoresponse.daemon.heartbeat", std::to_string(time(nullptr) - 11)));
  for (const char* command : {"status", "reload", "cancel"}) {
    r = command == std::string("cancel") ? arctl(box, {command, "1"}) : arctl(box, {command});
    EXPECT_EQ(r.status, 3) << command << r.out << r.err;
    EXPECT_EQ(r.err.rfind("arctl: daemon not running: its last heartbeat was at ", 0), 0u) << command << r.err;
  }
  box.infod.stop();
  r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("arctl: cannot reach infod at " + box.path("/var/run/infod-sock") + " (", 0), 0) << r.err;
  EXPECT_NE(r.err.find("); is infod running?\n"), std::string::npos) << r.err;
}

// A triggered rule's delayed action shows since when the state holds and when the action falls due; a silence in a
// rule's kept record marks its references; --json holds the same; a reload that changes one of two rules says what
// it kept and what it reset.
TEST(ArctlE2e, StatusTellsWhatFallsDueAndReloadWhatItKept) {
  Sandbox box;
  ConfigBuilder c = named({"rack", "spare"});
  add_script(c, 1, "trigger_actions", 1, "cut rack power", "/bin/true", "", 600);
  ASSERT_TRUE(box.start(c, "<- push config.autoresponse.daemon.reload.result 0 ok"));
  // Rule 2 silenced for an hour, as the daemon keeps a silence.
  const std::string kept2 = "config.autoresponse.daemon.kept.2";
  std::string text = box.infod.command({"get", kept2}).second;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  RestartRule record;
  ASSERT_TRUE(restart_rule_parse(text, &record)) << text;
  const int64_t until_ms = (int64_t{time(nullptr)} + 3600) * 1000;
  record.silences.push_back({0, until_ms, "alice", "maintenance window"});
  ASSERT_TRUE(box.push(kept2, restart_rule_format(record)));

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  // The latest update is shown at the tick after it came.
  ASSERT_TRUE(eventually([&] { return !box.infod.command({"get", "config.autoresponse.daemon.latest.1.1"}).second.empty(); }));
  Ran r;
  EXPECT_TRUE(eventually([&] { return (r = arctl(box, {"status"})).out.find("delayed action") != std::string::npos; }))
      << r.out;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(masked(r.out),
            "#  NAME   CHECK          REFERENCE                    STATE      SINCE                VALUE\n"
            "1  rack   environmental  1 config.ports.port1.enviro  Triggered  YYYY-MM-DD hh:mm:ss  31.5\n"
            "   delayed action 'cut rack power' due at YYYY-MM-DD hh:mm:ss\n"
            "2  spare  environmental  1 config.ports.port2.enviro  Normal     YYYY-MM-DD hh:mm:ss  -\n"
            "   silenced until YYYY-MM-DD hh:mm:ss by alice: maintenance window\n"
            "\nlast load: YYYY-MM-DD hh:mm:ss: ok\n\nqueue: 0 running, 0 waiting\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("Triggered  (.{19})  31.5\n.* due at (.{19})\n")));
  EXPECT_EQ(local_seconds(m[2]) - local_seconds(m[1]), 600) << r.out;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("silenced until (.{19}) ")));
  EXPECT_EQ(local_seconds(m[1]), until_ms / 1000);

  r = arctl(box, {"status", "--json"});
  EXPECT_EQ(r.status, 0);
  const std::regex times(R"re("(pid|started|heartbeat|time|mtime|since|due|starts|until)": \d+)re");
  const std::string json = std::regex_replace(std::regex_replace(r.out, times, "\"$1\": 0"),
                                              std::regex(R"("checksum": "[^"]*")"), "\"checksum\": \"C\"");
  const std::string rack = "{\"number\": 1, \"device\": \"config.ports.port1.enviro\", \"subscribed\": true, "
                           "\"state\": \"Triggered\", \"since\": 0, \"value\": \"31.5\", \"delayed\": [{\"name\": "
                           "\"cut rack power\", \"due\": 0, \"starts\": 0, \"behind\": null}], \"repeat\": null, \"timeout_end\": null, "
                           "\"window_end\": null, \"burst\": null, \"latest\": {\"time\": 0, \"value\": \"31.5\"}, "
                           "\"hold\": null, \"silence\": null}";
  const std::string silence = "\"reference\": 0, \"until\": 0, \"origin\": \"alice\", \"reason\": \"maintenance window\"}";
  const std::string spare = "{\"number\": 1, \"device\": \"config.ports.port2.enviro\", \"subscribed\": true, "
                            "\"state\": \"Normal\", \"since\": 0, \"value\": null, \"delayed\": [], \"repeat\": null, "
                            "\"timeout_end\": null, \"window_end\": null, \"burst\": null, \"latest\": null, "
                            "\"hold\": null, \"silence\": {" + silence + "}";
  EXPECT_EQ(json,
            "{\"daemon\": {\"pid\": 0, \"started\": 0, \"heartbeat\": 0, \"running\": true, \"why\": null},\n"
            " \"load\": {\"time\": 0, \"result\": \"ok\", \"number\": 1, \"mtime\": 0, \"checksum\": \"C\", "
            "\"changes\": null},\n"
            " \"file\": {\"path\": \"" + box.path("/etc/config/config.xml") + "\", \"as_loaded\": true},\n"
            " \"rules\": [\n"
            "  {\"number\": 1, \"name\": \"rack\", \"check\": \"environmental\", \"loaded\": true, \"references\": [" +
                rack + "]},\n"
            "  {\"number\": 2, \"name\": \"spare\", \"check\": \"environmental\", \"loaded\": true, \"references\": [" +
                spare + "]}\n"
            " ],\n"
            " \"queue\": [],\n"
            " \"silences\": [\n"
            "  {\"rule\": 2, " + silence + "\n"
            " ]}\n");

  c.set(rule_path(1) + ".enviro.trigger_val", "40");
  box.write_config(c);
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 0) << r.err;
  // The edit keeps the key: the reference carries its state and is judged by the new threshold, which 31.5 is below.
  EXPECT_NE(r.out.find("\nreloaded " + box.path("/etc/config/config.xml") + "\n1 rule unchanged, 1 changed: rack carried\n"),
            std::string::npos) << r.out;
  EXPECT_TRUE(box.daemon_logged("Delayed action cut rack power for AR rack dropped: its reference resolved"));
  expect_clean_end(box);
}

// The plan of a reload, against the daemon: an edit of an action's text carries the Triggered reference; a key
// changed while Triggered and a rule removed while Triggered leave incidents undone, which reload refuses without
// --force and lists; --dry-run sends nothing. Each plan agrees with what the daemon then says it did.
TEST(ArctlE2e, ReloadPlansEachRuleAndRefusesToLeaveAnIncidentUndoneUnlessForced) {
  Sandbox box;
  // The first rules of: rack, whose action's text is page; pdu, on the sensor of port pdu_port; gone.
  const auto config = [](int rules, const std::string& page, int pdu_port) {
    const Strings names = {"rack", "pdu", "gone"};
    ConfigBuilder c = named(Strings(names.begin(), names.begin() + rules));
    for (int n = 1; n <= rules; ++n) {
      add_script(c, n, "trigger_actions", 1, n == 2 ? "cut" : "page", "/bin/true", n == 1 ? page : "hot", 600);
    }
    return c.set(rule_path(2) + ".enviro.dev_ref", "config.ports.port" + std::to_string(pdu_port) + ".enviro");
  };
  ASSERT_TRUE(box.start(config(3, "hot", 2), "<- push config.autoresponse.daemon.reload.result 0 ok"));
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(box.push(enviro_key(n), "31.5"));
  Ran r;
  ASSERT_TRUE(eventually([&] { return count((r = arctl(box, {"status"})).out, "delayed action") == 3; })) << r.out;
  const auto plan = [](const Ran& ran) {
    return masked(ran.out.substr(std::min(ran.out.size(), ran.out.find("plan: "))));
  };
  const std::string file = box.path("/etc/config/config.xml");

  box.write_config(config(3, "very hot", 2));
  const std::string carried = "plan: 2 rules unchanged\n"
                              "plan: rule 1 (rack) carried: its references keep their states under the new settings\n";
  r = arctl(box, {"reload", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(plan(r), carried);
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(plan(r), carried + "reloaded " + file + "\n2 rules unchanged, 1 changed: rack carried\n");

  box.write_config(config(2, "very hot", 4));
  const std::string undone =
      "plan: 1 rule unchanged\n"
      "plan: rule 2 (pdu) started afresh: reference 1's key changed\n"
      "plan: rule 3 (gone) removed\n"
      "plan: drops the delayed action 'cut' of rule 2 (pdu) reference 1, due at YYYY-MM-DD hh:mm:ss\n"
      "plan: drops the delayed action 'page' of rule 3 (gone) reference 1, due at YYYY-MM-DD hh:mm:ss\n"
      "plan: leaves rule 2 (pdu) reference 1 Triggered undone (its key changed): its resolve actions will not run\n"
      "plan: leaves rule 3 (gone) reference 1 Triggered undone (its rule is removed): its resolve actions will not run\n";
  r = arctl(box, {"reload", "--dry-run"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(plan(r), undone);
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(plan(r), undone);
  EXPECT_EQ(r.err, "arctl: not reloaded: it would leave rule 2 (pdu) reference 1 Triggered, rule 3 (gone) reference 1 "
                   "Triggered undone, their resolve actions never run; --force reloads anyway\n");
  r = arctl(box, {"reload", "--force"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(plan(r), undone + "reloaded " + file + "\n1 rule unchanged, 1 changed: pdu reset, its delayed action 'cut' "
                              "dropped; 1 removed: gone\n");
  EXPECT_TRUE(box.daemon_logged("Reference 1 of AR gone taken away while Triggered"));
  // Only the two reloads signalled the daemon, each answered before arctl ended.
  EXPECT_EQ(2, count(read_file(box.path("/daemon.log")), "SIGHUP"));
  r = arctl(box, {"reload", "--dry-run"});
  EXPECT_EQ(plan(r), "plan: 2 rules unchanged\n");
  expect_clean_end(box);
}

// What status says is true: a delayed action held behind an earlier one shows when it can start, a Disabled
// reference when its window ends, a burst its count, a reference that takes no updates the latest it dropped, and
// the queue names each action.
TEST(ArctlE2e, StatusSaysWhenActionsCanStartWindowsEndBurstsCountAndWhatCameLast) {
  Sandbox box;
  ConfigBuilder c = named({"rack", "night"}).set("config.autoresponse.total", 4);
  add_script(c, 1, "trigger_actions", 1, "first", "/bin/true", "", 600);
  add_script(c, 1, "trigger_actions", 2, "second", "/bin/true", "", 60);
  for (int day = 0; day <= 6; ++day) {
    set_all(c, rule_path(2) + ".disable.day" + std::to_string(day) + ".", "start_hour=0;start_min=0;end_hour=23;end_min=59");
  }
  add_rule(c, 3, "logins", "cli_login", "cli_login.trigger_auth_error=on;burst.count=5;burst.window=60");
  add_action(c, 3, "trigger_actions", 1, "alert", "snmp");
  c.set(rule_path(3) + ".trigger_actions.total", 1);
  // A program that runs while status looks, and says who it is so that it can be ended.
  add_enviro_rule(c, 4, "slow");
  write_file(box.path("/bin/nap"), "#!/bin/sh\necho $$ > " + box.path("/nap.pid") + "\nexec sleep 600\n", 0755);
  add_script(c, 4, "trigger_actions", 1, "nap", box.path("/bin/nap"));
  ASSERT_TRUE(box.start(c, "<- push config.autoresponse.daemon.reload.result 0 ok"));
  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.push(enviro_key(2), "40"));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(box.push("config.pam.auth_event.auth_error", "root:sshd:/usr/sbin/sshd:192.0.2.9"));
  ASSERT_TRUE(box.push(enviro_key(4), "31.5"));
  Ran r;
  const auto all_shown = [&] {
    r = arctl(box, {"status"});
    for (const char* note : {"held behind", "window ends at", "burst: 2 of 5", "latest update 40", "running  "}) {
      if (r.out.find(note) == std::string::npos) return false;
    }
    return true;
  };
  ASSERT_TRUE(eventually(all_shown)) << r.out;
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(masked(r.out),
            "#  NAME    CHECK          REFERENCE                    STATE      SINCE                VALUE\n"
            "1  rack    environmental  1 config.ports.port1.enviro  Triggered  YYYY-MM-DD hh:mm:ss  31.5\n"
            "   delayed action 'first' due at YYYY-MM-DD hh:mm:ss\n"
            "   delayed action 'second' due at YYYY-MM-DD hh:mm:ss, held behind 'first' until YYYY-MM-DD hh:mm:ss\n"
            "2  night   environmental  1 config.ports.port2.enviro  Disabled   YYYY-MM-DD hh:mm:ss  -\n"
            "   window ends at YYYY-MM-DD hh:mm:ss\n"
            "   latest update 40 at YYYY-MM-DD hh:mm:ss\n"
            "3  logins  cli_login      1                            Normal     YYYY-MM-DD hh:mm:ss  -\n"
            "   burst: 2 of 5 within 60 s, since YYYY-MM-DD hh:mm:ss\n"
            "4  slow    environmental  1 config.ports.port4.enviro  Triggered  YYYY-MM-DD hh:mm:ss  31.5\n"
            "\nlast load: YYYY-MM-DD hh:mm:ss: ok\n\nqueue: 1 running, 0 waiting\n"
            "STATE    SINCE                RULE    ACTION\n"
            "running  YYYY-MM-DD hh:mm:ss  4 slow  nap\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("'first' due at (.{19})\n.*held behind 'first' until (.{19})\n")));
  EXPECT_EQ(m[1], m[2]);
  ASSERT_TRUE(std::regex_search(r.out, m, std::regex("window ends at (.{19})\n")));
  EXPECT_EQ(masked(m[1]).substr(10), " hh:mm:ss");
  EXPECT_EQ(std::string(m[1]).substr(11), "00:00:00");  // the minute after 23:59
  r = arctl(box, {"status", "--json"});
  EXPECT_NE(r.out.find("\"behind\": \"first\"}]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"burst\": {\"count\": 2, \"of\": 5, \"window\": 60, \"since\": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"action\": \"" + rule_path(4) + ".trigger_actions.action1\", \"name\": \"nap\"}"),
            std::string::npos) << r.out;
  ASSERT_TRUE(eventually([&] { return !read_file(box.path("/nap.pid")).empty(); }));
  kill(atoi(read_file(box.path("/nap.pid")).c_str()), SIGTERM);
  expect_clean_end(box);
}

// A rule held while another is Triggered: status and explain say what the hold holds and why the rule has
// not acted; once the hold ends, the held action runs and explain tells how it ended.
TEST(ArctlE2e, ExplainTellsWhyAHeldRuleWaitsAndHowItsActionEnded) {
  Sandbox box;
  ConfigBuilder c = named({"uplink", "host-a"});
  c.set(rule_path(2) + ".hold_while.total", 1).set(rule_path(2) + ".hold_while.rule1", "uplink");
  write_file(box.path("/bin/page"), "#!/bin/sh\necho \"$1\" >> " + box.path("/paged") + "\n", 0755);
  add_script(c, 2, "trigger_actions", 1, "page", box.path("/bin/page"), "$AR_NAME");
  ASSERT_TRUE(box.start(c, "<- push config.autoresponse.daemon.reload.result 0 ok"));
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.push(enviro_key(2), "31.5"));
  ASSERT_TRUE(box.daemon_logged("Held action page for AR host-a: while uplink is Triggered"));
  Ran r;
  ASSERT_TRUE(eventually([&] {
    r = arctl(box, {"status"});
    return r.out.find("held while uplink") != std::string::npos;
  })) << r.out;
  EXPECT_NE(r.out.find("   held while uplink is Triggered, holding 'page'\n"), std::string::npos) << r.out;
  r = arctl(box, {"explain", "host-a"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(masked(r.out),
            "rule 2 (host-a) reference 1 config.ports.port2.enviro: Triggered since YYYY-MM-DD hh:mm:ss\n"
            "  latest value 31.5 at YYYY-MM-DD hh:mm:ss\n"
            "  the check (environmental, a level): temp against 30; enviro.check_type=temp, "
            "enviro.dev_ref=config.ports.port2.enviro, enviro.trigger_val=30, enviro.hysteresis=1\n"
            "  that value keeps it Triggered\n"
            "  held while uplink is Triggered, holding 'page'\n"
            "  what would change it: an update the check judges clear resolves it; a cancel sends it into Timeout\n"
            "last actions: none since the daemon started\n");
  ASSERT_TRUE(box.push(enviro_key(1), "20"));
  ASSERT_TRUE(eventually([&] { return read_file(box.path("/paged")) == "host-a\n"; }));
  ASSERT_TRUE(eventually([&] {
    r = arctl(box, {"explain", "2", "--ref", "1", "--json"});
    return r.out.find("\"finished\": [{\"name\": \"page\", \"status\": 0, \"time\": ") != std::string::npos;
  })) << r.out;
  EXPECT_EQ(r.out.find("held while"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"judged\": {\"outcome\": \"refresh\", \"reason\": null}"), std::string::npos) << r.out;
  // What explain cannot tell, it refuses with status 1.
  const struct { Strings args; std::string err; } refusals[] = {
      {{"explain", "host-b"}, "arctl: the daemon runs no rule named host-b ('arctl status' lists them)\n"},
      {{"explain", "host-a", "--ref", "2"}, "arctl: rule 2 (host-a) has no reference 2\n"},
  };
  for (const auto& k : refusals) {
    r = arctl(box, k.args);
    EXPECT_EQ(r.status, 1) << k.args[1];
    EXPECT_EQ(r.err, k.err);
    EXPECT_EQ(r.out, "");
  }
  expect_clean_end(box);
}

// Who cancels: the login name, the user behind sudo, or --as.
TEST(ArctlE2e, CancelSendsTheCommandAndSaysWhatTheDaemonDid) {
  Sandbox box;
  ConfigBuilder c = named({"rack", "pdu", "ups"}).set("config.autoresponse.total", 4);
  for (int n = 1; n <= 3; ++n) c.set(rule_path(n) + ".reset_timeout", 600);
  add_rule(c, 4, "broken", "thermometer", "");
  ASSERT_TRUE(box.start(c, state_line(3, "Normal")));
  for (int n = 1; n <= 3; ++n) ASSERT_TRUE(box.push(enviro_key(n), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(3, "Triggered")));
  const struct passwd* pw = getpwuid(getuid());
  const std::string user = pw != nullptr ? pw->pw_name : std::to_string(getuid());
  const struct { Strings args; const char* sudo_user; std::string origin; int n; std::string name; } cases[] = {
      {{"cancel", "rack"}, "", user, 1, "rack"},
      {{"cancel", "2"}, "alice", "alice", 2, "pdu"},
      {{"cancel", "--as", "night shift", rule_path(3)}, "alice", "night shift", 3, "ups"},
  };
  for (const auto& k : cases) {
    const std::string path = rule_path(k.n), n = std::to_string(k.n);
    Ran r = arctl(box, k.args, k.sudo_user);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "sent \"" + path + "," + k.origin + ",cancel\" to config.autoresponse.command (rule " + n + ", " +
                         k.name + ")\nrule " + n + " (" + k.name + "): reference 1 Triggered -> Timeout; no further "
                         "actions are queued, and it is Normal again after its reset_timeout\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(box.infod.logged(log_line("Control Message from " + k.origin + ": " + path + " -> cancel")));
  }
  // The daemon refuses a rule it cannot cancel, and arctl says why; it sends nothing for a rule it does not run.
  const struct { Strings args; std::string out, err; } refused[] = {
      {{"cancel", "1"}, "sent \"" + rule_path(1) + "," + user + ",cancel\" to config.autoresponse.command (rule 1, rack)\n",
       "arctl: the daemon refused the command for rule 1 (rack): AR " + rule_path(1) +
           " not in the correct state to perform cancel\n"},
      {{"cancel", "rak"}, "", "arctl: the daemon runs no rule named rak ('arctl status' lists them)\n"},
      {{"cancel", rule_path(4)}, "", "arctl: the daemon runs no rule 4 ('arctl status' lists them)\n"},
  };
  for (const auto& k : refused) {
    Ran r = arctl(box, k.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, k.out);
    EXPECT_EQ(r.err, k.err);
  }
  EXPECT_EQ(3, count(read_file(box.infod.log), "Control Message from"));
  expect_clean_end(box);
}

// A command with an id is answered under the result key once carried out or refused; one without an id, or with
// one that is not well formed, is carried out as before and not answered.
TEST(ArctlE2e, ACommandWithAnIdIsAnsweredAndOneWithoutIsNot) {
  Sandbox box;
  ASSERT_TRUE(box.start(named({"rack"}), state_line(1, "Normal")));
  const std::string path = rule_path(1), answer = "<- push config.autoresponse.daemon.command.result 0 ";
  ASSERT_TRUE(box.push("config.autoresponse.command", "@t-1 " + path + ",tester,cancel"));
  EXPECT_TRUE(box.infod.logged(answer + "t-1 refused AR " + path + " not in the correct state to perform cancel"));
  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  ASSERT_TRUE(box.push("config.autoresponse.command", path + ",tester,cancel"));
  ASSERT_TRUE(box.infod.logged(log_line("Control Message from tester: " + path + " -> cancel")));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Timeout")));
  ASSERT_TRUE(box.push("config.autoresponse.command", "@bad! " + path + ",tester,cancel"));
  ASSERT_TRUE(box.push("config.autoresponse.command", "@t.2 " + path + ",tester,silence,60,0"));
  EXPECT_TRUE(box.infod.logged(answer + "t.2 accepted"));
  ASSERT_TRUE(box.push("config.autoresponse.command", "@t_3 " + path + ",tester"));
  EXPECT_TRUE(box.infod.logged(answer + "t_3 refused Invalid control message received"));
  // Answers come in order, so by the last one every earlier command had its answer, or none.
  EXPECT_EQ(3, count(read_file(box.infod.log), answer));
  EXPECT_TRUE(box.daemon_logged("Control message for invalid AR received"));
  expect_clean_end(box);
}

// A silence holds the rule's actions back, whatever its reference does, until it is lifted, and then what it held
// runs; silences lists it with who and why.
TEST(ArctlE2e, SilenceHoldsTheActionsBackUntilUnsilenced) {
  Sandbox box;
  fake(box, "/bin/act");
  ConfigBuilder c = named({"rack"});
  add_script(c, 1, "trigger_actions", 1, "page", box.path("/bin/act"));
  ASSERT_TRUE(box.start(c, state_line(1, "Normal")));
  const std::string sent = "sent \"" + rule_path(1) + ",alice,silence,7200,0,rack move, row 4\" to "
                           "config.autoresponse.command (rule 1, rack)\nrule 1 (rack): every reference silenced until ";
  Ran r = arctl(box, {"silence", "--as", "alice", "--for", "2h", "--reason", "rack move, row 4", "rack"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, sent.size()), sent);
  EXPECT_TRUE(box.infod.logged(log_line("Control Message from alice: " + rule_path(1) + " -> silence,7200,0,rack move, row 4")));
  const std::string daemon_refused = "arctl: the daemon refused the command for rule 1 (rack): Refused ";
  const struct { Strings args; int status; std::string err; } refused[] = {
      {{"silence", "--for", "1m", "--ref", "1", "rack"}, 1,
       daemon_refused + "silence for AR " + rule_path(1) + ": every reference is silenced already until "},
      {{"silence", "--for", "31d", "rack"}, 2, "arctl: --for takes a DURATION of 1 second to 30 days\n"},
      {{"silence", "--for", "5 min", "rack"}, 2, "arctl: --for takes a DURATION such as 90s, 15m, 2h or 1d, not \"5 min\"\n"},
      {{"unsilence", "--ref", "1", "rack"}, 1,
       daemon_refused + "unsilence for AR " + rule_path(1) + ": reference 1 is silenced only with every reference "
                        "(lift that with 0)\n"},
  };
  for (const auto& k : refused) {
    r = arctl(box, k.args);
    EXPECT_EQ(r.status, k.status) << k.args[0] << r.err;
    EXPECT_EQ(r.err.substr(0, k.err.size()), k.err);
  }
  r = arctl(box, {"silences"});
  EXPECT_TRUE(std::regex_match(r.out, std::regex("#  NAME  REFERENCE  UNTIL                BY     REASON\n"
                                                 "1  rack  every      \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  alice  rack move, row 4\n")))
      << r.out;

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  EXPECT_TRUE(box.daemon_logged("Silenced action page for AR rack: until "));
  r = arctl(box, {"unsilence", "rack"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "rule 1 (rack): silence of every reference lifted; the rule's actions "
                                                 "are queued again\n");
  EXPECT_EQ(arctl(box, {"silences"}).out, "no silences\n");
  EXPECT_EQ(arctl(box, {"unsilence", "1"}).err,
            daemon_refused + "unsilence for AR " + rule_path(1) + ": every reference is not silenced\n");
  // What was held back runs once the silence is lifted, the rule still Triggered; the next trigger pages again.
  ASSERT_TRUE(eventually([&] { return count(box.calls("/bin/act"), "\n") == 1; })) << box.calls("/bin/act");
  ASSERT_TRUE(box.push(enviro_key(1), "29"));
  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(eventually([&] { return count(box.calls("/bin/act"), "\n") == 2; })) << box.calls("/bin/act");
  expect_clean_end(box);
}

// 10,000 rules whose names make the loaded list longer than infod takes in one message: the daemon starts and
// stays, status shows every rule from the list in parts, and reload confirms the load.
TEST(ArctlE2e, ThousandsOfRulesWithLongNamesRunAndStatusAndReloadWork) {
  // 2,000 rules whose names of 300 characters the list carries as some 580 bytes each (a blank as %20): well
  // over the 1 MiB infod takes in one message, as 10,000 rules of shorter names are, at a fifth of the work.
  constexpr int kRules = 2000;
  std::string xml = "<config><autoresponse><total>" + std::to_string(kRules) + "</total>";
  std::string blanks;
  for (int i = 0; i < 141; ++i) blanks += " x";
  char name[400];
  for (int n = 1; n <= kRules; ++n) {
    snprintf(name, sizeof name, "server room %05d%s", n, blanks.c_str());
    const std::string r = "autoresponse" + std::to_string(n);
    xml += "<" + r + "><name>" + name + "</name><check_type>environmental</check_type><enviro><check_type>temp"
           "</check_type><dev_ref>config.ports.port" + std::to_string(n) + ".enviro</dev_ref><trigger_val>30"
           "</trigger_val><hysteresis>1</hysteresis></enviro></" + r + ">";
  }
  Sandbox box;
  write_file(box.path("/etc/config/config.xml"), xml + "</autoresponse></config>\n");
  ASSERT_TRUE(box.infod.start() && box.start_daemon());
  const std::string loaded = "<- push config.autoresponse.daemon.reload.result 0 ok";
  ASSERT_TRUE(box.infod.logged(loaded, 600000));
  const auto parts = box.infod.command({"get", "config.autoresponse.daemon.loaded"});
  EXPECT_GT(atoi(parts.second.c_str()), 1) << parts.second;

  // An edit not yet applied: status shows the rules as the daemon names them, from its list.
  write_file(box.path("/etc/config/config.xml"), xml + "</autoresponse></config>\n\n");
  Ran r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(kRules, count(r.out, " environmental  1          Normal "));
  const std::string last = "\n2000  " + std::string(name) + "  environmental  1          Normal  ";
  ASSERT_NE(r.out.find(last), std::string::npos);
  EXPECT_EQ(masked(r.out.substr(r.out.find(last) + last.size(), 23)), "YYYY-MM-DD hh:mm:ss  -\n");
  r = arctl(box, {"reload"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nreloaded " + box.path("/etc/config/config.xml") + "\n2000 rules unchanged\n"),
            std::string::npos) << r.out;
  EXPECT_EQ(2, count(read_file(box.infod.log), loaded));
  expect_clean_end(box);
}

// Any client of infod can publish a pid and a fresh heartbeat, and a pid can be reused: reload and cancel act only
// on the process that holds the pid file's lock, when infod and the process's start time agree, and status says
// the daemon is not running at once. A file left behind is locked by no one, whatever pid it holds and infod
// forges. The daemon removes its file at its end.
TEST(ArctlE2e, APidThatIsNotProvenIsNeitherSignalledNorSentTo) {
  Sandbox box;
  ASSERT_TRUE(box.start(enviro_rules(1), "<- push config.autoresponse.daemon.reload.result 0 ok"));
  const std::string pid_file = box.path(kPidFile), aside = box.path("/daemons.pid"),
                    daemon_pid = std::to_string(box.daemon_pid());
  ASSERT_EQ(read_file(pid_file), daemon_pid + "\n");
  const pid_t other = spawn("/bin/sleep", {"600"}, -1, box.path("/sleep.err"));
  const auto start_time = [](const std::string& pid) {
    std::string stat = read_file("/proc/" + pid + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int n = 3; n <= 22; ++n) fields >> field;
    return field;
  };
  const std::string sleep_pid = std::to_string(other),
                    daemon_start = box.infod.command({"get", "config.autoresponse.daemon.pid.starttime"}).second;
  ASSERT_EQ(daemon_start, start_time(daemon_pid) + "\n");
  const std::string refused = "arctl: the pid in infod is not the running daemon: ";
  // The daemon's own file (renamed, it keeps its lock), or a stale one in its place, or none.
  const struct { bool own; std::string file, start_time, why; } cases[] = {
      {true, "", start_time(sleep_pid),
       "infod holds pid " + sleep_pid + ", the lock of " + pid_file + " is held by process " + daemon_pid},
      // The daemon gone, its pid taken by another process, its file left: pid, start time and heartbeat agree.
      {false, sleep_pid + "\n", start_time(sleep_pid),
       "no process holds the lock of " + pid_file + ", so the daemon is not running"},
      {false, "", start_time(sleep_pid), pid_file + ": No such file or directory"},
  };
  for (const auto& k : cases) {
    if (!k.own && !std::filesystem::exists(aside)) {
      ASSERT_EQ(0, rename(pid_file.c_str(), aside.c_str()));
    }
    if (!k.own) unlink(pid_file.c_str());
    if (!k.file.empty()) write_file(pid_file, k.file);
    ASSERT_TRUE(box.push("config.autoresponse.daemon.pid", sleep_pid));
    ASSERT_TRUE(box.push("config.autoresponse.daemon.pid.starttime", k.start_time));
    ASSERT_TRUE(box.push("config.autoresponse.daemon.heartbeat", std::to_string(time(nullptr))));
    for (const Strings& args : {Strings{"reload"}, Strings{"cancel", "1"}}) {
      const Ran r = arctl(box, args);
      EXPECT_EQ(r.status, 3) << args[0] << r.err;
      EXPECT_EQ(r.err.substr(r.err.find(refused) == std::string::npos ? 0 : r.err.find(refused)),
                refused + k.why + "; nothing sent\n") << args[0];
    }
    const Ran r = arctl(box, {"status"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "arctl: daemon not running: " + k.why + "\n");
  }
  // No signal reached the other process: a SIGHUP sent would be delivered before the SIGTERM sent after it.
  EXPECT_EQ(0, waitpid(other, nullptr, WNOHANG));
  kill(other, SIGTERM);
  EXPECT_EQ(128 + SIGTERM, wait_exit(other));
  EXPECT_EQ(0, count(read_file(box.path("/daemon.log")), "SIGHUP"));
  EXPECT_EQ(0, count(read_file(box.infod.log), "<- push config.autoresponse.command"));
  ASSERT_EQ(0, rename(aside.c_str(), pid_file.c_str()));
  expect_clean_end(box);
  EXPECT_FALSE(std::filesystem::exists(pid_file));
}

// log prints the engine's last line or follows it, with the daemon's own syslog lines beside it.
TEST(ArctlE2e, LogPrintsTheLastLineAndFollowsEveryNewOneWithItsTime) {
  Sandbox box;
  start(box);
  // A syslog file: the daemon's lines come beside the engine's, other programs' do not.
  const std::string syslog = box.path("/syslog"), old_line = "Dec  7 12:00:00 box autoresponsed[7]: SIGHUP - Reloading Config";
  write_file(syslog, old_line + "\nDec  7 12:00:01 box cron[8]: (root) CMD (true)\n");
  const std::string followed = box.path("/follow.out");
  const int fd = open(followed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t follower = spawn_built("arctl", {"log", "-f", "--syslog", syslog, "--socket", box.path("/var/run/infod-sock")},
                                     fd, box.path("/follow.err"));
  close(fd);
  ASSERT_TRUE(box.infod.logged("<- sub arctl config.autoresponse.log"));

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  const std::string triggered =
      "AR: name=rack, index=1, ref=1, state=Triggered, event=config.ports.port1.enviro.temp, value=31.5";
  ASSERT_TRUE(box.infod.logged(log_line(triggered)));
  EXPECT_TRUE(eventually([&] { return read_file(followed).find(triggered) != std::string::npos; }));
  const std::string got = read_file(followed);
  EXPECT_TRUE(std::regex_match(got.substr(0, 21), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )"))) << got;
  EXPECT_EQ(got.size() > 21 ? got.substr(21) : got, triggered + "\n");
  const std::string new_line = "Dec  7 12:00:02 box autoresponsed[7]: Could not open config database";
  std::ofstream(syslog, std::ios::app) << new_line << "\nDec  7 12:00:03 box cron[8]: done\n";
  EXPECT_TRUE(eventually([&] { return read_file(followed).find("syslog  " + new_line + "\n") != std::string::npos; }));
  EXPECT_EQ(std::string::npos, read_file(followed).find("cron"));

  Ran r = arctl(box, {"log"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, triggered + "\n");
  r = arctl(box, {"log", "--syslog", syslog});
  EXPECT_EQ(r.out, "syslog  " + old_line + "\nsyslog  " + new_line + "\n" + triggered + "\n");

  kill(follower, SIGTERM);
  EXPECT_EQ(wait_exit(follower), 128 + SIGTERM);
  expect_clean_end(box);
  expect_no_sanitizer_report(box.path("/follow.err"));
}

// log -n prints the daemon's last lines as syslog has them, with their times, without infod; with -f it goes on
// with each new one. Other programs' lines do not count, also when they name the daemon.
TEST(ArctlE2e, LogNPrintsTheDaemonsLastLinesWithTheirTimes) {
  TempDir dir;
  const std::string syslog = dir.path() + "/syslog";
  const auto at = [](int s) { return "Dec  7 12:00:0" + std::to_string(s) + " box "; };
  const auto daemon = [&](int s) { return at(s) + "autoresponsed[7]: line " + std::to_string(s) + "\n"; };
  std::string text;
  for (int s = 1; s <= 5; ++s) text += daemon(s) + at(s) + "cron[8]: (root) CMD (logger autoresponsed: x)\n";
  write_file(syslog, text);
  const Ran r = run(built_command("arctl"), {"log", "-n", "2", "--syslog", syslog}, dir.path() + "/out",
                    dir.path() + "/err", {}, 150000);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, daemon(4) + daemon(5));
  EXPECT_EQ(r.err, "");

  const std::string followed = dir.path() + "/follow.out";
  const int fd = open(followed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t follower =
      spawn_built("arctl", {"log", "-n", "1", "-f", "--syslog", syslog}, fd, dir.path() + "/follow.err");
  close(fd);
  EXPECT_TRUE(eventually([&] { return read_file(followed) == daemon(5); }, 150000)) << read_file(followed);
  std::ofstream(syslog, std::ios::app) << "Dec  7 12:00:06 box cron[8]: done\n" << daemon(7);
  EXPECT_TRUE(eventually([&] { return read_file(followed) == daemon(5) + daemon(7); }, 150000)) << read_file(followed);
  kill(follower, SIGTERM);
  EXPECT_EQ(wait_exit(follower), 128 + SIGTERM);
  expect_no_sanitizer_report(dir.path() + "/follow.err");
}

// With AR_ROOT naming the development daemon's root, arctl needs no option to find its socket, pid file and
// configuration (an option still comes first); the daemon's log lines carry their time as syslog's do, so
// log -n reads the file its standard error went to.
TEST(ArctlE2e, AnArRootLeadsArctlToTheDevelopmentDaemonWhoseLogItReads) {
  Sandbox box;
  ASSERT_TRUE(box.start(named({"rack"}), "<- push config.autoresponse.daemon.reload.result 0 ok"));
  const auto arctl_in_root = [&](const Strings& args) { return run_arctl(box, args, {{"AR_ROOT", box.path("")}}); };
  Ran r = arctl_in_root({"status"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1  rack "), std::string::npos) << r.out;
  r = arctl_in_root({"reload"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nreloaded " + box.path("/etc/config/config.xml") + "\n"), std::string::npos) << r.out;
  r = arctl_in_root({"status", "--socket", box.path("/none")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("arctl: cannot reach infod at " + box.path("/none"), 0), 0u) << r.err;

  ASSERT_TRUE(box.daemon_logged("SIGHUP - Reloading Config"));
  r = arctl_in_root({"log", "-n", "1", "--syslog", box.path("/daemon.log")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d \S+ )"
                                                 R"(autoresponsed-dev\[\d+\]: [^\n]+\n)")))
      << r.out;
  // Every line the daemon wrote is one of its lines: they are the file as it was read, which the daemon
  // may have added to since.
  r = arctl_in_root({"log", "-n", "1000", "--syslog", box.path("/daemon.log")});
  EXPECT_EQ(read_file(box.path("/daemon.log")).rfind(r.out, 0), 0u) << r.out;
  EXPECT_NE(r.out.find("]: SIGHUP - Reloading Config\n"), std::string::npos) << r.out;
  expect_clean_end(box);
}

}  // namespace
