// Control commands: cancel, the splitting of the text, and commands logged and ignored.
#include <gtest/gtest.h>

#include "base/log.h"
#include "model/archeck.h"
#include "support/rules.h"

namespace {

const std::string kRule2 = rule_path(2);

// Two custom-script rules, the second with two references, both Triggered.
class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigBuilder c;
    for (int n : {1, 2}) {
      c.set(rule_path(n) + ".name", "rule" + std::to_string(n)).set(rule_path(n) + ".check_type", "custom");
    }
    ASSERT_EQ(0, d.load(c.set(kRule2 + ".custom.dev_refs.total", 2).set("config.autoresponse.total", 2)));
    ASSERT_EQ(0, d.deliver(kRule2 + ".check.status", "1"));
  }
  // The command's pushes as "key=value", after setting the first reference of rule 2 to state.
  Strings command(ArCheckState state, const std::string& text) {
    d.check(1).state = state;
    d.take_sent();
    d.logs.clear();
    EXPECT_EQ(0, d.deliver("config.autoresponse.command", text));
    Strings out;
    for (const SentMessage& m : d.take_sent()) out.push_back(m.key + "=" + m.value);
    return out;
  }
  static Strings cancelled(const std::string& line) {
    return {"config.autoresponse.log=Control Message from " + line, kRule2 + ".refs.ref1.status=Timeout",
            "config.autoresponse.log=AR: name=rule2, index=2, ref=1, state=Timeout"};
  }
  TestDaemon d;
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
    EXPECT_EQ(Strings{}, command(row.state, row.text)) << row.text;
    EXPECT_TRUE(d.logged_at(row.priority, row.log)) << row.text;
    EXPECT_EQ(row.state, d.check(1).state) << row.text;
  }
}

}  // namespace
