// Control commands: cancelling a reference through the command key, the
// splitting of the command text, and commands that are malformed, name no
// rule or no verb (logged and ignored; the daemon goes on).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/archeck.h"
#include "core/log.h"
#include "support/check_pushes.h"
#include "support/test_daemon.h"

namespace {

const std::string kCommandKey = "config.autoresponse.command";
const std::string kRule1 = "config.autoresponse.autoresponse1";
const std::string kRule2 = "config.autoresponse.autoresponse2";

// Two custom-script rules; rule 2 ("pump") has a trigger action that waits
// 30 seconds and two device references.
class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigBuilder c;
    c.set("config.autoresponse.total", 2);
    c.set(kRule1 + ".name", "fan").set(kRule1 + ".check_type", "custom");
    c.set(kRule2 + ".name", "pump").set(kRule2 + ".check_type", "custom").set(kRule2 + ".custom.dev_refs.total", 2);
    const std::string a = kRule2 + ".trigger_actions";
    c.set(a + ".total", 1).set(a + ".action1.name", "alert").set(a + ".action1.action_type", "custom");
    c.set(a + ".action1.delay_time", 30);
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    ASSERT_EQ(3u, d.ctx.checks.size());
    d.take_sent();
  }
  ArCheck& pump1() { return d.check(1); }
  ArCheck& pump2() { return d.check(2); }
  void trigger_pump() {
    ASSERT_EQ(0, d.deliver(kRule2 + ".check.status", "1"));
    ASSERT_EQ(kArTriggered, pump1().state);
    ASSERT_EQ(kArTriggered, pump2().state);
    d.take_sent();
  }
  std::vector<Push> command(const std::string& text) {
    EXPECT_EQ(0, d.deliver(kCommandKey, text));
    return pushes_of(d.take_sent());
  }
  TestDaemon d;
  const RefKeys pump{kRule2, "pump", 2, 1};
};

TEST_F(Control, CancelSendsATriggeredReferenceToTimeout) {
  trigger_pump();
  const std::vector<Push> expected =
      then({{"config.autoresponse.log", "Control Message from admin: " + kRule2 + " -> cancel"}},
           pump.change("Timeout"));
  EXPECT_EQ(expected, command(kRule2 + ",admin,cancel"));
  EXPECT_EQ(kArTimeout, pump1().state);
  EXPECT_FALSE(pump1().current_event);
}

TEST_F(Control, CancelledReferenceQueuesNothingAndReturnsToNormal) {
  trigger_pump();
  command(kRule2 + ",admin,cancel");
  // Reset time-out 0: Normal at the first tick a second or more later.
  d.tick();
  EXPECT_EQ(kArTimeout, pump1().state);
  d.clock.advance(31);
  d.take_sent();
  d.tick();
  EXPECT_EQ(kArNormal, pump1().state);
  // Only the second reference, still Triggered, offers its action.
  int offered = 0;
  for (const Push& p : pushes_of(d.take_sent())) {
    if (p.second.find("Queuing triggered action: alert") != std::string::npos) ++offered;
  }
  EXPECT_EQ(1, offered);
  EXPECT_EQ(kActionPending, pump1().trigger_actions[0].status);
}

TEST_F(Control, CancelInResolvingAlsoTimesOut) {
  trigger_pump();
  pump1().state = kArResolving;
  EXPECT_FALSE(command(kRule2 + ",admin,cancel").empty());
  EXPECT_EQ(kArTimeout, pump1().state);
}

TEST_F(Control, CancelInOtherStatesOnlyLogs) {
  for (ArCheckState state : {kArNormal, kArTimeout, kArDisabled}) {
    pump1().state = state;
    d.logs.clear();
    EXPECT_TRUE(command(kRule2 + ",admin,cancel").empty());
    EXPECT_EQ(state, pump1().state);
    EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule2 + " not in the correct state to perform cancel"));
  }
}

TEST_F(Control, VerbMatchesAsPrefixAndTheWholeFieldIsLogged) {
  trigger_pump();
  const std::vector<Push> pushes = command(kRule2 + ",admin,cancelled");
  ASSERT_FALSE(pushes.empty());
  EXPECT_EQ("Control Message from admin: " + kRule2 + " -> cancelled", pushes[0].second);
  EXPECT_EQ(kArTimeout, pump1().state);
}

TEST_F(Control, FieldsSplitLikeStrtok) {
  trigger_pump();
  // Leading commas and runs of commas vanish; a fourth field is ignored.
  const std::vector<Push> pushes = command(",," + kRule2 + ",,web user,,cancel now,extra");
  ASSERT_FALSE(pushes.empty());
  EXPECT_EQ("Control Message from web user: " + kRule2 + " -> cancel now", pushes[0].second);
}

TEST_F(Control, OnlyTheFirstReferenceOfARuleIsActedOn) {
  trigger_pump();
  command(kRule2 + ",admin,cancel");
  EXPECT_EQ(kArTimeout, pump1().state);
  EXPECT_EQ(kArTriggered, pump2().state);
}

TEST_F(Control, MalformedCommandsAreLoggedAndIgnored) {
  trigger_pump();
  struct Case {
    std::string text;
    std::string log;
  };
  const std::vector<Case> cases = {
      {kRule2 + ",,cancel", "Invalid control message received"},
      {kRule2 + ",admin", "Invalid control message received"},
      {",,,", "Invalid control message received"},
      {"pump,admin,cancel", "Control message for invalid AR received"},
      {kRule2 + ".,admin,cancel", "Control message for invalid AR received"},
      {"config.autoresponse.autoresponse9,admin,cancel", "Control message for invalid AR received"},
      {kRule2 + ",admin,reboot", "Unknown action: reboot"},
      {kRule2 + ",admin,cance", "Unknown action: cance"},
  };
  for (const Case& c : cases) {
    d.logs.clear();
    EXPECT_TRUE(command(c.text).empty()) << c.text;
    EXPECT_TRUE(logged_at(d, kLogFatal, c.log)) << c.text;
    EXPECT_EQ(kArTriggered, pump1().state) << c.text;
    EXPECT_LT(d.ctx.exit_status, 0);
  }
  // Still listening: a good command afterwards works.
  EXPECT_FALSE(command(kRule2 + ",admin,cancel").empty());
  EXPECT_EQ(kArTimeout, pump1().state);
}

TEST_F(Control, LongCommandLineIsCutNotOverrun) {
  trigger_pump();
  const std::string origin(300, 'o');
  const std::vector<Push> pushes = command(kRule2 + "," + origin + ",cancel");
  ASSERT_FALSE(pushes.empty());
  EXPECT_EQ(127u, pushes[0].second.size());
  EXPECT_EQ(0u, pushes[0].second.rfind("Control Message from ooo", 0));
  EXPECT_EQ(kArTimeout, pump1().state);
}

}  // namespace
