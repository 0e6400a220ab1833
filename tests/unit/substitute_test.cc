// Text substitution: every token's value, the order of rows, failure as a whole.
#include "actions/substitute.h"

#include <gtest/gtest.h>

#include <string>

#include "checks/check_type.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

using namespace action_rules;

namespace {

class Substitution : public ::testing::Test {
 protected:
  // The loaded rule, named name, with a current value (none: no event).
  ArCheck& rule(const std::string& name, const OptionalText& value, bool sms_command = false) {
    if (d.ctx.config_db != nullptr) unload_config(&d.ctx);
    d.write_config(sensor_rule("dio").set(kRule + ".name", name));
    EXPECT_EQ(d.load(), 0);
    ArCheck& check = d.check(0);
    if (value) check.current_event.reset(new CheckEvent{kSensorKey, 0, 0, *value});
    if (sms_command) check.ar->check_type = kCheckSms;
    return check;
  }
  // The substituted text; "<none>" without a token, "<failed>" on -1.
  static std::string run(ArCheck& check, const std::string& text) {
    std::optional<std::string> result = std::string("untouched");
    if (substitute_text(text, &check, &result) != 0) return result == "untouched" ? "<failed>" : "<changed>";
    return result.value_or("<none>");
  }
  ZoneGuard zone{"UTC0"};
  TestDaemon d;
};

TEST_F(Substitution, EveryTokenOfATriggeredRule) {
  d.clock.wall = 1796401827;  // 2026-12-04 16:30:27 UTC
  trigger(d, sensor_rule("dio"));
  EXPECT_EQ(run(d.check(0), "$AR_NAME=$AR_VAL [$AR_TRIGGER_VAL|$AR_PROPERTY|$AR_CHECK_DEV|$AR_DEV_REF] $AR_NAME"),
            "door1=35 [30|temp|Serial QTH|config.ports.port1.enviro] door1");
  EXPECT_EQ(run(d.check(0), "$HOSTNAME at $TIMESTAMP."), host_name() + " at 2026 Dec  4 16:30:27.");
  EXPECT_EQ(run(d.check(0), "plain text, $ and $AR but no token"), "<none>");
}

TEST_F(Substitution, RowsRunInOrderAndFailAsAWhole) {
  const struct { const char* name; OptionalText value; const char* text; std::string expected; } cases[] = {
      {"door1", "7", "$AR_VALUE", "7UE"},  // no word boundary is looked for
      {"door1", "up on $HOSTNAME at $AR_NAME", "$AR_VAL", "up on " + host_name() + " at door1"},
      {"$AR_VAL-room", "7", "$AR_VAL $AR_NAME", "7 $AR_VAL-room"},  // the name's token row has already run
      {"door1", std::nullopt, "$AR_NAME on $AR_DEV_REF", "door1 on config.ports.port1.enviro"},
      {"door1", std::nullopt, "$AR_NAME is $AR_VAL", "<failed>"},  // no event, so no value
  };
  for (const auto& k : cases) EXPECT_EQ(run(rule(k.name, k.value), k.text), k.expected) << k.text;
  // The actions then keep the text as it was, the name's token included.
  EXPECT_EQ(substitute_or_keep("$AR_NAME is $AR_VAL", &d.check(0)), "$AR_NAME is $AR_VAL");
  EXPECT_TRUE(logged_at(d, 400, "Text substitution failed"));
}

TEST_F(Substitution, CellnumIsTheSenderOfAnSmsCommand) {
  EXPECT_EQ(run(rule("door1", "+61400111222:reboot"), "<$CELLNUM>"), "<>");  // not an SMS rule
  const std::pair<OptionalText, const char*> cases[] = {
      {std::nullopt, ""}, {"+61400111222:reboot", "+61400111222"}, {"+61400111222", "+61400111222"},
      {"::+61400:reboot:now", "+61400"}, {":::", ""}, {"", ""}};
  for (const auto& [value, sender] : cases)
    EXPECT_EQ(run(rule("door1", value, true), "<$CELLNUM>"), std::string("<") + sender + ">") << value.value_or("-");
}

}  // namespace
