// Every kind of action through the real daemon: one triggered rule starts
// stand-ins for the appliance's programs, whose exact argument vectors and
// environments are compared, leaves an SMS spool file and sends an
// interface command; then control commands reach it through infod.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/e2e_rules.h"

namespace {

using namespace e2e;
using Strings = std::vector<std::string>;

const std::string kRule = rule_path(1);

// Trigger action k of rule 1: its name, type and settings under its kind.
void add_trigger(ConfigBuilder& c, int k, const std::string& name, const std::string& type,
                 const std::vector<std::pair<std::string, std::string>>& settings) {
  add_action(c, 1, "trigger_actions", k, name, type);
  for (const auto& [key, value] : settings) {
    c.set(kRule + ".trigger_actions.action" + std::to_string(k) + "." + type + "." + key, value);
  }
}

// The contents of the files in dir.
Strings files_in(const std::string& dir) {
  Strings contents;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) contents.push_back(read_file(entry.path()));
  return contents;
}

class ActionsE2e : public ::testing::Test {
 protected:
  // Rule door1 with one trigger action of every kind, the CMS action
  // first. Programs started with an environment of their own record all of
  // it, so their lines show that nothing of the daemon's leaked into it.
  void SetUp() override {
    fake(box, "/bin/pmpower");
    fake(box, "/bin/ioc");
    fake(box, "/bin/act");
    fake(box, "/bin/run_check", true);
    fake(box, "/etc/scripts/alert-email", true);
    fake(box, "/etc/scripts/alert-nsca", true);
    ConfigBuilder c;
    c.set("config.autoresponse.total", 1).set("config.autoresponse.concurrent_actions", 10);
    add_enviro_rule(c, 1, "door1");
    c.set(kRule + ".nagios.name", "door").set("config.system.nagios.name", "console7");
    c.set("config.cms.enabled", "on").set("config.cms.cms1.node.name", "node7");
    c.set(kRule + ".trigger_actions.total", 8);
    add_trigger(c, 1, "outlet", "rpc", {{"rpc_ref", "config.ports.port5"}, {"outlet", "3"}, {"action", "off"}});
    add_trigger(c, 2, "pin", "dio", {{"pin", "2"}, {"value", "1"}});
    add_trigger(c, 3, "script", "custom",
                {{"script", box.path("/bin/act")}, {"args.total", "3"}, {"args.arg1", "$AR_NAME"},
                 {"args.arg3", "at $AR_VAL"}});
    add_trigger(c, 4, "wan", "conman", {{"ref", "config.interfaces.wan"}, {"action", "start"}});
    add_trigger(c, 5, "mail", "email",
                {{"to_addr", "ops@example.com"}, {"subject", "Alert $AR_NAME"}, {"body", "Reading $AR_VAL"}});
    add_trigger(c, 6, "text", "sms", {{"number", "+61400000001"}, {"message", "$AR_NAME hot"}});
    add_trigger(c, 7, "gateway", "sms", {{"gateway_email", "sms@example.com"}, {"message", "hot $AR_VAL"}});
    add_trigger(c, 8, "nsca", "nagios", {{"message", "$AR_NAME at $AR_VAL"}, {"return_code", "2"}});
    box.write_config(c);
    ASSERT_TRUE(box.start_infod());
    ASSERT_TRUE(box.start_daemon());
    ASSERT_TRUE(box.infod().logged(state_line(1, "Normal")));
  }

  Sandbox box;
};

TEST_F(ActionsE2e, EveryKindRunsWithItsExactCommandLine) {
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  for (const char* name : {"CMS action", "outlet", "pin", "script", "mail", "gateway", "nsca"}) {
    EXPECT_TRUE(box.infod().log_contains(std::string("Finished action: ") + name + " with status 0 for AR: door1"))
        << name;
  }
  EXPECT_EQ(box.calls("/bin/pmpower"), Strings{"/bin/pmpower|-l|port05|-o|3|off"});
  EXPECT_EQ(box.calls("/bin/ioc"), Strings{"ioc|-p|2|-v|1"});
  EXPECT_EQ(box.calls("/bin/act"), Strings{box.path("/bin/act") + "|door1||at 35"});
  EXPECT_EQ(box.calls("/bin/run_check"),
            Strings{"run_check|-c|check_autoresponse_1_node7|-f|" + box.path("/etc/config/node-cms1-checks.xml") +
                    "|-p|5667|FORCE_STATUS=Triggered"});
  Strings mails = box.calls("/etc/scripts/alert-email");
  std::sort(mails.begin(), mails.end());
  EXPECT_EQ(mails, (Strings{"alert-email|2|TOADDR=sms@example.com|SUBJECT=SMS Gateway Alert|BODY=hot 35",
                            "alert-email|TOADDR=ops@example.com|SUBJECT=Alert door1|BODY=Reading 35"}));
  EXPECT_EQ(box.calls("/etc/scripts/alert-nsca"),
            Strings{"alert-nsca|NAME=console7|CHECK=alert_ar_door|CODE=2|STATUS=door1 at 35"});
  EXPECT_TRUE(box.infod().logged("<- push config.interfaces.wan.ar_ctl 2 up"));
  EXPECT_EQ(files_in(box.path("/var/spool/sms/outgoing")), Strings{"To: +61400000001\n\ndoor1 hot"});
  EXPECT_TRUE(files_in(box.path("/tmp")).empty());
  expect_clean_end(box);
}

TEST_F(ActionsE2e, CancelTimesOutATriggeredRuleAndBadCommandsAreSurvived) {
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.infod().logged(state_line(1, "Triggered")));
  // Too few fields, an unknown rule, an unknown verb: each is logged and dropped.
  for (const std::string& bad : Strings{"garbage", kRule + ",,cancel", rule_path(9) + ",admin,cancel",
                                        kRule + ",admin,reboot"}) {
    ASSERT_TRUE(box.push("config.autoresponse.command", bad));
  }
  ASSERT_TRUE(box.push("config.autoresponse.command", kRule + ",admin,cancel"));
  EXPECT_TRUE(box.infod().logged(log_line("Control Message from admin: " + kRule + " -> cancel")));
  EXPECT_TRUE(box.infod().logged(state_line(1, "Timeout")));
  EXPECT_TRUE(box.daemon_logged("Invalid control message received"));
  EXPECT_TRUE(box.daemon_logged("Control message for invalid AR received"));
  EXPECT_TRUE(box.daemon_logged("Unknown action: reboot"));
  EXPECT_TRUE(box.daemon_running());
  expect_clean_end(box);
}

}  // namespace
