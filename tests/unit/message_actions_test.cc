// The message actions (e-mail, SMS spool files or gateway, Nagios): environments and spool files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "actions/action_ops.h"
#include "checks/check_type.h"
#include "core/log.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

using namespace action_rules;
using Strings = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

// The contents of the regular files in dir, sorted; with take, the files are removed.
Strings files_in(const std::string& dir, bool take = false) {
  Strings contents;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    std::ifstream in(e.path(), std::ios::binary);
    if (e.is_regular_file())
      contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (take) fs::remove(e.path());
  }
  std::sort(contents.begin(), contents.end());
  return contents;
}

ConfigBuilder sms(const std::string& number, const std::string& gateway, const std::string& message) {
  const std::string s = kTrigger + ".sms.";
  return sensor_rule("sms").set(s + "number", number).set(s + "gateway_email", gateway).set(s + "message", message);
}

class MessageActions : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(d.dir() + "/tmp"); fs::create_directories(d.paths.sms_outgoing_dir); }
  // What triggering config did, as one text: each new start (path, arguments,
  // environment) with its queue tag, each message spooled (taken), the action's fate.
  std::string outcome(const ConfigBuilder& config) {
    d.spawner.starts.clear();
    std::string text;
    for (const FakeSpawner::Start& s : trigger(d, config)) {
      text += s.path.substr(d.dir().size()) + ":";
      for (const std::string& a : s.argv) text += " " + a;
      for (const std::string& e : s.envp) text += " [" + e + "]";
      text += " tag " + std::to_string(d.ctx.action_queue.back().tag) + "; ";
    }
    for (const std::string& f : files_in(d.paths.sms_outgoing_dir, true)) text += "spooled " + f + "; ";
    const int32_t status = d.check(0).trigger_actions[0].status;
    if (engine_logged(d, "Action act for AR door1, queuing failed")) return text + "failed";
    return text + (status == kActionQueued ? "queued" : status == kActionDropped ? "done" : std::to_string(status));
  }
  ZoneGuard zone{"UTC0"};
  TestDaemon d;
};

TEST_F(MessageActions, EmailAndNagiosEnvironments) {
  d.clock.wall = 1796401827;  // 2026-12-04 16:30:27 UTC
  EXPECT_EQ(outcome(sensor_rule("email").set(kTrigger + ".email.to_addr", "ops-$AR_NAME@example.com")
                        .set(kTrigger + ".email.subject", "$HOSTNAME: $AR_NAME")
                        .set(kTrigger + ".email.body", "$AR_VAL at $TIMESTAMP")),
            "/etc/scripts/alert-email: alert-email [TOADDR=ops-$AR_NAME@example.com] [SUBJECT=" + host_name() +
                ": door1] [BODY=35 at 2026 Dec  4 16:30:27] tag 0; queued");
  EXPECT_EQ(outcome(sensor_rule("nagios").set("config.system.nagios.name", "c7")
                        .set(kRule + ".nagios.name", "dr").set(kTrigger + ".nagios.message", "at $AR_VAL")
                        .set(kTrigger + ".nagios.return_code", "2")),
            "/etc/scripts/alert-nsca: alert-nsca [NAME=c7] [CHECK=alert_ar_dr] [CODE=2] [STATUS=at 35] tag 2; queued");
}

TEST_F(MessageActions, SmsSpoolsAFilePerNumberOrMailsTheGateway) {
  EXPECT_EQ(outcome(sms("+61400111222, +61400333444", "", "$AR_NAME at $AR_VAL")),
            "spooled To: +61400111222\n\ndoor1 at 35; spooled To: +61400333444\n\ndoor1 at 35; done");
  EXPECT_EQ(outcome(sms(" ,, , ", "", "hello")), "done");
  EXPECT_EQ(outcome(sms("+1555", "gw@x", "hi")), "spooled To: +1555\n\nhi; done");  // numbers win
  EXPECT_EQ(outcome(sms("", "gw@x", "$AR_NAME hot")), "/etc/scripts/alert-email: alert-email 2 [TOADDR=gw@x] "
                                                     "[SUBJECT=SMS Gateway Alert] [BODY=door1 hot] tag 0; queued");
  EXPECT_EQ(outcome(sms("", "", "nobody")), "failed");
  EXPECT_TRUE(logged_at(d, kLogFatal, "Invalid action - no phone number or email address provided: act"));
  // A rule on SMS commands with neither replies to the sender.
  d.check(0).ar->check_type = kCheckSms;
  d.check(0).current_event.reset(new CheckEvent{"", 0, 0, "+61400555666:reboot"});
  d.write_config(sms("", "", "done: $CELLNUM"));
  EXPECT_EQ(queue_sms_action(&d.check(0), &d.check(0).trigger_actions[0]), 0);
  EXPECT_EQ(files_in(d.paths.sms_outgoing_dir, true), (Strings{"To: +61400555666\n\ndone: +61400555666"}));
  // Files that cannot be moved fail the action, after every recipient was tried, and are removed.
  fs::remove_all(d.paths.sms_outgoing_dir);
  EXPECT_EQ(outcome(sms("+111 +222", "", "lost")), "failed");
  const auto moved = [&](const LogRecord& r) { return r.text.find("Failed moving " + d.dir() + "/tmp/send_") == 0; };
  EXPECT_EQ(std::count_if(d.logs.begin(), d.logs.end(), moved), 2);
  EXPECT_TRUE(files_in(d.dir() + "/tmp").empty());
}

TEST_F(MessageActions, SpoolFilesArriveAcrossFileSystems) {
  char shm_dir[] = "/dev/shm/ar-sms-XXXXXX";  // /dev/shm is a file system of its own
  ASSERT_NE(mkdtemp(shm_dir), nullptr);
  d.paths.sms_tmp_template = std::string(shm_dir) + "/send_XXXXXX";
  EXPECT_EQ(outcome(sms("+111,+222", "", "far")), "spooled To: +111\n\nfar; spooled To: +222\n\nfar; done");
  EXPECT_TRUE(files_in(shm_dir).empty());
  EXPECT_TRUE(files_in(d.paths.sms_spool_dir).empty());  // no half-made copies beside outgoing
  fs::remove_all(shm_dir);
}

}  // namespace
