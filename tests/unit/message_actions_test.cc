// The message actions: e-mail, SMS (spool files or a gateway) and Nagios
// reports, checked by the environment they hand to their scripts and by
// the spool files they leave.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "actions/action_ops.h"
#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "support/action_rules.h"
#include "support/test_daemon.h"

using namespace action_rules;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

std::string host_name() {
  char buffer[256] = {};
  gethostname(buffer, 255);
  return buffer;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The contents of the regular files in dir, sorted.
Strings files_in(const std::string& dir) {
  Strings contents;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.is_regular_file()) contents.push_back(read_file(e.path()));
  }
  std::sort(contents.begin(), contents.end());
  return contents;
}

class MessageActions : public ::testing::Test {
 protected:
  // Loads config, triggers the rule and returns what was started.
  const std::vector<FakeSpawner::Start>& trigger(const ConfigBuilder& config) {
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    d.take_sent();
    EXPECT_EQ(d.deliver(kSensorKey, kHot), 0);
    return d.spawner.starts;
  }

  TestDaemon d;
};

// --- e-mail ----------------------------------------------------------------

TEST_F(MessageActions, EmailSubstitutesBodyAndSubjectButNotTheAddress) {
  d.clock.wall = 1796401827;  // 2026-12-04 16:30:27 UTC
  setenv("TZ", "UTC", 1);
  tzset();
  const auto& starts = trigger(sensor_rule("email")
                                   .set(kTrigger + ".email.to_addr", "ops-$AR_NAME@example.com")
                                   .set(kTrigger + ".email.subject", "$HOSTNAME: $AR_NAME")
                                   .set(kTrigger + ".email.body", "$AR_VAL at $TIMESTAMP"));
  unsetenv("TZ");
  tzset();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].path, d.paths.scripts_dir + "alert-email");
  EXPECT_EQ(starts[0].argv, (Strings{"alert-email"}));
  EXPECT_EQ(starts[0].envp, (Strings{"TOADDR=ops-$AR_NAME@example.com", "SUBJECT=" + host_name() + ": door1",
                                     "BODY=35 at 2026 Dec  4 16:30:27"}));
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionQueued);
  EXPECT_TRUE(d.logged("Queued Email Action for " + kRule));
}

TEST_F(MessageActions, EmailSendsTextsWhoseSubstitutionFailsAsTheyAre) {
  d.write_config(sensor_rule("email")
                     .set(kTrigger + ".email.to_addr", "ops@example.com")
                     .set(kTrigger + ".email.subject", "$AR_VAL")
                     .set(kTrigger + ".email.body", "$AR_NAME"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);  // Normal: "$AR_VAL" has no value
  EXPECT_EQ(queue_email_action(&check, &check.trigger_actions[0]), 0);
  ASSERT_EQ(d.spawner.starts.size(), 1u);
  EXPECT_EQ(d.spawner.starts[0].envp, (Strings{"TOADDR=ops@example.com", "SUBJECT=$AR_VAL", "BODY=door1"}));
  EXPECT_TRUE(logged_at(d, 400, "Text substitution failed"));
}

// --- SMS -------------------------------------------------------------------

class SmsAction : public MessageActions {
 protected:
  void SetUp() override {
    fs::create_directories(d.dir() + "/tmp");
    fs::create_directories(d.paths.sms_outgoing_dir);
  }

  ConfigBuilder rule(const std::string& number, const std::string& gateway, const std::string& message) {
    return sensor_rule("sms")
        .set(kTrigger + ".sms.number", number)
        .set(kTrigger + ".sms.gateway_email", gateway)
        .set(kTrigger + ".sms.message", message);
  }

  // Runs the action directly on the loaded rule's ArCheck.
  int run_directly(const ConfigBuilder& config) {
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    ArCheck& check = d.check(0);
    return queue_sms_action(&check, &check.trigger_actions[0]);
  }

  Strings outgoing() { return files_in(d.paths.sms_outgoing_dir); }
  Strings left_in_tmp() { return files_in(d.dir() + "/tmp"); }
};

TEST_F(SmsAction, OneSpoolFilePerNumber) {
  const auto& starts = trigger(rule("+61400111222, +61400333444", "", "$AR_NAME at $AR_VAL"));
  EXPECT_TRUE(starts.empty());
  EXPECT_TRUE(d.ctx.action_queue.empty());
  EXPECT_EQ(outgoing(), (Strings{"To: +61400111222\n\ndoor1 at 35", "To: +61400333444\n\ndoor1 at 35"}));
  EXPECT_TRUE(left_in_tmp().empty());
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
  EXPECT_FALSE(contains(engine_log(d), "queuing failed"));
  EXPECT_TRUE(d.logged("Running SMS Action for " + kRule));
}

TEST_F(SmsAction, OnlyDelimitersMakeNoFileAndSucceed) {
  d.write_config(rule(" ,, , ", "", "hello"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);
  ActionEntry& entry = check.trigger_actions[0];
  entry.status = kActionPending;
  EXPECT_EQ(queue_sms_action(&check, &entry), 0);
  EXPECT_EQ(entry.status, kActionDropped);
  EXPECT_TRUE(outgoing().empty());
}

TEST_F(SmsAction, NumbersWinOverTheGateway) {
  const auto& starts = trigger(rule("+1555", "gw@sms.example.com", "hi"));
  EXPECT_TRUE(starts.empty());
  EXPECT_EQ(outgoing(), (Strings{"To: +1555\n\nhi"}));
}

TEST_F(SmsAction, SpoolFilesArriveAcrossFileSystems) {
  struct stat shm {};
  struct stat spool {};
  if (stat("/dev/shm", &shm) != 0 || stat(d.paths.sms_spool_dir.c_str(), &spool) != 0 ||
      shm.st_dev == spool.st_dev) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  char shm_dir[] = "/dev/shm/ar-sms-XXXXXX";
  ASSERT_NE(mkdtemp(shm_dir), nullptr);
  const std::unique_ptr<char, void (*)(char*)> cleanup(shm_dir, [](char* p) { fs::remove_all(p); });
  d.paths.sms_tmp_template = std::string(shm_dir) + "/send_XXXXXX";

  EXPECT_TRUE(trigger(rule("+111,+222", "", "over there")).empty());
  EXPECT_EQ(outgoing(), (Strings{"To: +111\n\nover there", "To: +222\n\nover there"}));
  EXPECT_TRUE(files_in(shm_dir).empty());
  EXPECT_TRUE(files_in(d.paths.sms_spool_dir).empty());  // no half-made copies beside outgoing
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
  EXPECT_FALSE(d.logged("Failed moving"));
}

TEST_F(SmsAction, FailedDeliveryFailsTheActionAndLeavesNothing) {
  fs::remove_all(d.paths.sms_outgoing_dir);
  const auto& starts = trigger(rule("+111 +222", "", "lost"));
  EXPECT_TRUE(starts.empty());
  EXPECT_TRUE(logged_at(d, 300, "Failed moving " + d.dir() + "/tmp/send_"));
  // Both recipients were tried.
  int failures = 0;
  for (const LogRecord& r : d.logs) failures += r.text.find("Failed moving") != std::string::npos;
  EXPECT_EQ(failures, 2);
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_TRUE(left_in_tmp().empty());
}

TEST_F(SmsAction, UncreatableSpoolFileFails) {
  d.paths.sms_tmp_template = d.dir() + "/missing/send_XXXXXX";
  EXPECT_EQ(run_directly(rule("+111,+222", "", "x")), -1);
  EXPECT_TRUE(logged_at(d, 0, "Could not create sms spool file"));
  EXPECT_TRUE(outgoing().empty());
}

TEST_F(SmsAction, GatewayWhenThereIsNoNumber) {
  const auto& starts = trigger(rule("", "gw@sms.example.com", "$AR_NAME hot"));
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].path, d.paths.scripts_dir + "alert-email");
  EXPECT_EQ(starts[0].argv, (Strings{"alert-email", "2"}));
  EXPECT_EQ(starts[0].envp,
            (Strings{"TOADDR=gw@sms.example.com", "SUBJECT=SMS Gateway Alert", "BODY=door1 hot"}));
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionQueued);
  EXPECT_TRUE(outgoing().empty());
}

TEST_F(SmsAction, SmsCommandRuleRepliesToTheSender) {
  d.write_config(rule("", "", "done: $CELLNUM"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);
  check.ar->check_type = kCheckSms;
  check.current_event = std::make_unique<CheckEvent>();
  check.current_event->value = "+61400555666:reboot";
  EXPECT_EQ(queue_sms_action(&check, &check.trigger_actions[0]), 0);
  EXPECT_EQ(outgoing(), (Strings{"To: +61400555666\n\ndone: +61400555666"}));
}

TEST_F(SmsAction, OtherRulesNeedANumberOrAGateway) {
  EXPECT_TRUE(trigger(rule("", "", "nobody")).empty());
  EXPECT_TRUE(logged_at(d, 0, "Invalid action - no phone number or email address provided: act"));
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_TRUE(outgoing().empty());
}

// --- Nagios ----------------------------------------------------------------

TEST_F(MessageActions, NagiosReportsUnderTheRulesCheckName) {
  ConfigBuilder config = sensor_rule("nagios");
  config.set("config.system.nagios.name", "console7")
      .set(kRule + ".nagios.name", "door")
      .set(kTrigger + ".nagios.message", "$AR_NAME at $AR_VAL")
      .set(kTrigger + ".nagios.return_code", "2");
  const auto& starts = trigger(config);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].path, d.paths.scripts_dir + "alert-nsca");
  EXPECT_EQ(starts[0].argv, (Strings{"alert-nsca"}));
  EXPECT_EQ(starts[0].envp, (Strings{"NAME=console7", "CHECK=alert_ar_door", "CODE=2", "STATUS=door1 at 35"}));
  ASSERT_EQ(d.ctx.action_queue.size(), 1u);
  EXPECT_EQ(d.ctx.action_queue.front().tag, 2);
  EXPECT_TRUE(d.logged("Queued Nagios NSCA Action for " + kRule));
}

}  // namespace
