// Text substitution: the tokens of action texts and their values, the order
// of replacement and failure as a whole.
#include "actions/substitute.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "support/action_rules.h"
#include "support/test_daemon.h"

using namespace action_rules;

namespace {

std::string host_name() {
  char buffer[256] = {};
  gethostname(buffer, 255);
  return buffer;
}

void set_current_value(ArCheck& check, const std::string& value) {
  check.current_event = std::make_unique<CheckEvent>();
  check.current_event->key = kSensorKey;
  check.current_event->value = value;
}

class Substitution : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = getenv("TZ");
    if (tz != nullptr) saved_tz_ = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (saved_tz_) {
      setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

  // Loads the sensor rule, named name, and returns its ArCheck.
  ArCheck& load(const std::string& name = "door1") {
    ConfigBuilder config = sensor_rule("dio");
    config.set(kRule + ".name", name);
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    return d.check(0);
  }

  // The substituted text; "<none>" for no token, "<failed>" for -1.
  std::string run(ArCheck& check, const std::string& text) {
    std::optional<std::string> result;
    const int rc = substitute_text(text, &check, &result);
    if (rc != 0) return "<failed>";
    return result ? *result : "<none>";
  }

  TestDaemon d;

 private:
  std::optional<std::string> saved_tz_;
};

TEST_F(Substitution, TextWithoutTokenIsLeftAlone) {
  ArCheck& check = load();
  EXPECT_EQ(run(check, "plain text, $ and $AR but no token"), "<none>");
  EXPECT_EQ(run(check, ""), "<none>");
  EXPECT_EQ(substitute_or_keep("no token", &check), "no token");
  EXPECT_FALSE(d.logged("Text substitution failed"));
}

TEST_F(Substitution, EveryTokenOfATriggeredRule) {
  ArCheck& check = load();
  d.clock.wall = 1796401827;  // 2026-12-04 16:30:27 UTC
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  ASSERT_EQ(check.state, kArTriggered);

  EXPECT_EQ(run(check, "$AR_NAME $AR_VAL $HOSTNAME"), "door1 35 " + host_name());
  EXPECT_EQ(run(check, "[$AR_TRIGGER_VAL|$AR_PROPERTY|$AR_CHECK_DEV|$AR_DEV_REF]"),
            "[30|temp|Serial QTH|config.ports.port1.enviro]");
  // The day of the month is padded with a space.
  EXPECT_EQ(run(check, "at $TIMESTAMP."), "at 2026 Dec  4 16:30:27.");
  EXPECT_EQ(run(check, "$AR_NAME and $AR_NAME"), "door1 and door1");
}

TEST_F(Substitution, TokenFollowedByLettersStillMatches) {
  ArCheck& check = load();
  set_current_value(check, "7");
  // "$AR_VALUE" holds "$AR_VAL"; no word boundary is looked for.
  EXPECT_EQ(run(check, "$AR_VALUE"), "7UE");
}

TEST_F(Substitution, LaterRowsSearchValuesOfEarlierRows) {
  ArCheck& check = load();
  set_current_value(check, "up on $HOSTNAME at $AR_NAME");
  // The value brings a later row's tokens along: both are replaced.
  EXPECT_EQ(run(check, "$AR_VAL"), "up on " + host_name() + " at door1");
}

TEST_F(Substitution, EarlierRowsDoNotSearchValuesOfLaterRows) {
  ArCheck& check = load("$AR_VAL-room");
  set_current_value(check, "7");
  // The name (row 4) holds the token of row 3, which has already run.
  EXPECT_EQ(run(check, "$AR_NAME"), "$AR_VAL-room");
  EXPECT_EQ(run(check, "$AR_VAL $AR_NAME"), "7 $AR_VAL-room");
}

TEST_F(Substitution, MissingValueFailsTheWholeText) {
  ArCheck& check = load();  // Normal: no current event, so no value
  std::optional<std::string> result = std::string("untouched");
  EXPECT_EQ(substitute_text("$AR_NAME is $AR_VAL", &check, &result), -1);
  EXPECT_EQ(result, "untouched");

  // The replacement made for the name is dropped too.
  EXPECT_EQ(substitute_or_keep("$AR_NAME is $AR_VAL", &check), "$AR_NAME is $AR_VAL");
  EXPECT_TRUE(logged_at(d, 400, "Text substitution failed"));

  // Tokens that need no current event still work.
  EXPECT_EQ(run(check, "$AR_NAME on $AR_DEV_REF"), "door1 on config.ports.port1.enviro");
}

TEST_F(Substitution, CellnumOfAnotherRuleIsEmpty) {
  ArCheck& check = load();
  set_current_value(check, "+61400111222:reboot");
  EXPECT_EQ(run(check, "to <$CELLNUM>."), "to <>.");
}

TEST_F(Substitution, CellnumOfAnSmsRuleIsTheSender) {
  ArCheck& check = load();
  check.ar->check_type = kCheckSms;
  EXPECT_EQ(run(check, "<$CELLNUM>"), "<>");  // no current event

  const struct {
    const char* value;
    const char* sender;
  } cases[] = {
      {"+61400111222:reboot", "+61400111222"},
      {"+61400111222", "+61400111222"},    // no colon: the whole value
      {"::+61400:reboot:now", "+61400"},   // leading colons are skipped
      {":::", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    set_current_value(check, c.value);
    EXPECT_EQ(substitution_cellnum(&check), c.sender) << c.value;
    EXPECT_EQ(run(check, std::string("<$CELLNUM>")), std::string("<") + c.sender + ">") << c.value;
  }
}

}  // namespace
