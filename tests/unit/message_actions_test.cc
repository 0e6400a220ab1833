// The message actions (e-mail, SMS spool files or gateway, Nagios): environments and spool files.
#include <gtest/gtest.h>

#include "actions/action_kinds.h"
#include "checks/check_type.h"
#include "support/action_rules.h"

static ConfigBuilder sms(const std::string& number, const std::string& gateway, const std::string& message) {
  const std::string s = kTrigger + ".sms.";
  return sensor_rule("sms").set(s + "number", number).set(s + "gateway_email", gateway).set(s + "message", message);
}

class MessageActions : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(d.paths.sms_outgoing_dir); }
  TestDaemon d;
};

TEST_F(MessageActions, EmailAndNagiosEnvironments) {
  const std::string e = kTrigger + ".email.", n = kTrigger + ".nagios.";
  EXPECT_EQ(outcome(d, sensor_rule("email").set(e + "to_addr", "$AR_NAME@x").set(e + "subject", "$AR_NAME")),
            "~/etc/scripts/alert-email: alert-email [TOADDR=$AR_NAME@x] [SUBJECT=door1] [BODY=]; queued");
  EXPECT_EQ(outcome(d, sensor_rule("nagios").set(kRule + ".nagios.name", "dr").set(n + "message", "at $AR_VAL")
                          .set("config.system.nagios.name", "console7")),
            "~/etc/scripts/alert-nsca: alert-nsca [NAME=console7] [CHECK=alert_ar_dr] [CODE=] [STATUS=at 35]; tag 2; "
            "queued");
}

TEST_F(MessageActions, SmsSpoolsAFilePerNumberOrMailsTheGatewayOrRepliesToACommand) {
  std::filesystem::create_directories(d.dir() + "/tmp");
  EXPECT_EQ(outcome(d, sms("+61400111222, +61400333444", "", "$AR_NAME at $AR_VAL")),
            "spooled To: +61400111222\n\ndoor1 at 35; spooled To: +61400333444\n\ndoor1 at 35; done");
  EXPECT_EQ(outcome(d, sms(" ,, , ", "", "hello")), "done");
  EXPECT_EQ(outcome(d, sms("+1555", "gw@x", "hi")), "spooled To: +1555\n\nhi; done");  // numbers win
  EXPECT_EQ(outcome(d, sms("", "gw@x", "hot")),
            "~/etc/scripts/alert-email: alert-email 2 [TOADDR=gw@x] [SUBJECT=SMS Gateway Alert] [BODY=hot]; queued");
  EXPECT_EQ(outcome(d, sms("", "", "nobody")), "failed");
  EXPECT_TRUE(d.logged_at(kLogFatal, "Invalid action - no phone number or email address provided: act"));
  // A rule on SMS commands with neither replies to the sender.
  d.check(0).conf.ar->kind = check_type_named("sms");
  d.check(0).current_event.reset(new CheckEvent{"", 0, 0, "::+61400555666:reboot:now"});
  d.write_config(sms("", "", "done: $CELLNUM"));
  ArCheck& k = d.check(0);
  EXPECT_EQ(action_kind_find("sms")->queue(d.ctx.actions, &k, k.conf.ar->trigger_actions[0], &k.trigger_status()[0]), 0);
  EXPECT_EQ(files_in(d.paths.sms_outgoing_dir, true), (Strings{"To: +61400555666\n\ndone: +61400555666"}));
  // Files that cannot be moved fail the action, after every recipient was tried, and are removed.
  std::filesystem::remove_all(d.paths.sms_outgoing_dir);
  EXPECT_EQ(outcome(d, sms("+111 +222", "", "lost")), "failed");
  const auto moved = [&](const LogRecord& r) { return r.text.find("Failed moving " + d.dir() + "/tmp/send_") == 0; };
  EXPECT_EQ(std::count_if(d.logs.begin(), d.logs.end(), moved), 2);
  EXPECT_TRUE(files_in(d.dir() + "/tmp").empty());
}

TEST_F(MessageActions, SpoolFilesArriveAcrossFileSystems) {
  char shm_dir[] = "/dev/shm/ar-sms-XXXXXX";  // /dev/shm is a file system of its own
  ASSERT_NE(mkdtemp(shm_dir), nullptr);
  d.paths.sms_tmp_template = std::string(shm_dir) + "/send_XXXXXX";
  EXPECT_EQ(outcome(d, sms("+111,+222", "", "far")), "spooled To: +111\n\nfar; spooled To: +222\n\nfar; done");
  EXPECT_TRUE(files_in(shm_dir).empty());
  EXPECT_TRUE(files_in(d.paths.sms_spool_dir).empty());  // no half-made copies beside outgoing
  std::filesystem::remove_all(shm_dir);
}

