// Control commands: cancel, the splitting of the command text, and commands that are
// malformed, name no rule or no verb (logged and ignored; the daemon goes on).
#include <gtest/gtest.h>

#include "config/archeck.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kRule2 = probe_rule_path(2);

// Two custom-script rules; both references of rule 2 are Triggered.
class Control : public CheckTest {
 protected:
  void SetUp() override {
    probe_rule(c, 1, "custom");
    probe_rule(c, 2, "custom");
    c.set(kRule2 + ".custom.dev_refs.total", 2);
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
  EXPECT_EQ(kArTriggered, d.check(2).state);  // only the first reference
  EXPECT_EQ(cancelled(line), command(kArResolving, kRule2 + ",admin,cancel"));
  EXPECT_EQ(cancelled(line + "led"), command(kArTriggered, kRule2 + ",admin,cancelled"));  // a verb prefix
  // Leading commas and runs of commas vanish; a fourth field is ignored.
  EXPECT_EQ(cancelled("web user: " + kRule2 + " -> cancel now"),
            command(kArTriggered, ",," + kRule2 + ",,web user,,cancel now,extra"));
}

TEST_F(Control, OtherCommandsAreLoggedAndChangeNothing) {
  const std::string wrong_state = "AR " + kRule2 + " not in the correct state to perform cancel";
  const struct { ArCheckState state; std::string text; int priority; std::string log; } cases[] = {
      {kArNormal, kRule2 + ",admin,cancel", kLogInfo, wrong_state},
      {kArTimeout, kRule2 + ",admin,cancel", kLogInfo, wrong_state},
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
