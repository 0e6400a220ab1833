// Control commands: cancel, the splitting of the command text, and commands that are
// malformed, name no rule or no verb (logged and ignored; the daemon goes on).
#include <gtest/gtest.h>

#include <string>

#include "config/archeck.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kRule2 = probe_rule_path(2);

// Two custom-script rules; rule 2 has two references and a trigger action
// that waits 30 seconds. Both references of rule 2 are Triggered.
class Control : public CheckTest {
 protected:
  void SetUp() override {
    probe_rule(c, 1, "custom");
    probe_rule(c, 2, "custom");
    const std::string a = kRule2 + ".trigger_actions";
    c.set(kRule2 + ".custom.dev_refs.total", 2).set(a + ".total", 1).set(a + ".action1.name", "alert");
    c.set(a + ".action1.action_type", "custom").set(a + ".action1.delay_time", 30);
    load(2);
    deliver(kRule2 + ".check.status", "1");
  }
  // The command's pushes, after setting the first reference of rule 2 to state.
  Pushes command(ArCheckState state, const std::string& text) {
    d.check(1).state = state;
    d.logs.clear();
    return deliver("config.autoresponse.command", text);
  }
  // The line a cancel pushes, then the first reference's Timeout.
  static Pushes cancelled(const std::string& line) {
    return then({{"config.autoresponse.log", "Control Message from " + line}}, RefKeys{2}.change("Timeout"));
  }
};

TEST_F(Control, CancelTimesOutATriggeredOrResolvingFirstReference) {
  const std::string line = "admin: " + kRule2 + " -> cancel";
  EXPECT_EQ(cancelled(line), command(kArTriggered, kRule2 + ",admin,cancel"));
  EXPECT_FALSE(d.check(1).current_event);
  EXPECT_EQ(cancelled(line), command(kArResolving, kRule2 + ",admin,cancel"));
  EXPECT_EQ(cancelled(line + "led"), command(kArTriggered, kRule2 + ",admin,cancelled"));  // a verb prefix
  // Leading commas and runs of commas vanish; a fourth field is ignored.
  EXPECT_EQ(cancelled("web user: " + kRule2 + " -> cancel now"),
            command(kArTriggered, ",," + kRule2 + ",,web user,,cancel now,extra"));
  const Pushes cut = command(kArTriggered, kRule2 + "," + std::string(300, 'o') + ",cancel");
  ASSERT_FALSE(cut.empty());
  EXPECT_EQ(std::string("Control Message from ") + std::string(106, 'o'), cut[0].second);  // cut, not overrun
  // The cancelled reference goes back to Normal without offering its action.
  d.clock.advance(31);
  d.tick();
  EXPECT_EQ(kArNormal, d.check(1).state);
  int offered = 0;
  for (const SentMessage& m : d.take_sent()) offered += m.value.find("Queuing triggered action") != std::string::npos;
  EXPECT_EQ(1, offered);
}

TEST_F(Control, OtherCommandsAreLoggedAndChangeNothing) {
  const struct { ArCheckState state; std::string text; int priority; std::string log; } cases[] = {
      {kArNormal, kRule2 + ",admin,cancel", kLogInfo, "AR " + kRule2 + " not in the correct state to perform cancel"},
      {kArTimeout, kRule2 + ",admin,cancel", kLogInfo, "AR " + kRule2 + " not in the correct state to perform cancel"},
      {kArTriggered, kRule2 + ",,cancel", kLogFatal, "Invalid control message received"},  // no origin
      {kArTriggered, kRule2 + ",admin", kLogFatal, "Invalid control message received"},
      {kArTriggered, "rule2,admin,cancel", kLogFatal, "Control message for invalid AR received"},
      {kArTriggered, kRule2 + ".,admin,cancel", kLogFatal, "Control message for invalid AR received"},
      {kArTriggered, kRule2 + ",admin,cance", kLogFatal, "Unknown action: cance"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(Pushes{}, command(row.state, row.text)) << row.text;
    EXPECT_TRUE(logged_at(d, row.priority, row.log)) << row.text;
    EXPECT_EQ(row.state, d.check(1).state) << row.text;
  }
}

}  // namespace
