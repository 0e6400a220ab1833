// Text substitution: every token's value, values inserted verbatim, failure as a whole.
#include "actions/substitute.h"

#include <gtest/gtest.h>

#include "checks/check_type.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

class Substitution : public ::testing::Test {
 protected:
  // Text substituted for the rule named name with a current value (none: no event); "<none>" without a token,
  // "<failed>" on -1 with the result untouched.
  std::string run(const std::string& text, const std::string& name, const OptionalText& value) {
    if (d.ctx.config != nullptr) unload_config(&d.ctx);
    d.write_config(sensor_rule("dio").set(kRule + ".name", name));
    EXPECT_EQ(d.load(), 0);
    ArCheck& check = d.check(0);
    if (value) check.current_event.reset(new CheckEvent{kSensorKey, 0, 0, *value});
    std::optional<std::string> result = std::string("untouched");
    if (substitute_text({d.clock, d.ctx.actions.hostname}, text, &check, &result) != 0) return result == "untouched" ? "<failed>" : "<changed>";
    return result.value_or("<none>");
  }
  ZoneGuard zone{"UTC0"};
  TestDaemon d;
};

TEST_F(Substitution, EveryTokenOnceValuesVerbatimAndFailureAsAWhole) {
  d.clock.wall = 1796401827;  // 2026-12-04 16:30:27 UTC
  const struct { const char* text; const char* name; OptionalText value; std::string expected; } cases[] = {
      {"$AR_NAME=$AR_VAL [$AR_TRIGGER_VAL|$AR_PROPERTY|$AR_CHECK_DEV|$AR_DEV_REF] $AR_NAME", "door1", "35",
       "door1=35 [30|temp|Serial QTH|config.ports.port1.enviro] door1"},
      {"$HOSTNAME at $TIMESTAMP.", "door1", "35", host_name() + " at 2026 Dec  4 16:30:27."},
      {"plain text, $ and $AR but no token", "door1", "7", "<none>"},
      {"$AR_VALUE", "door1", "7", "7UE"},  // no word boundary is looked for
      // Values go in verbatim: a stranger's text learns nothing and grows nothing.
      {"$AR_VAL", "door1", "up on $HOSTNAME at $AR_NAME", "up on $HOSTNAME at $AR_NAME"},
      {"[$AR_NAME|$AR_VAL]", "$AR_VAL-room", "$AR_NAME", "[$AR_VAL-room|$AR_NAME]"},
      {"<$CELLNUM>", "door1", "+61400111222:reboot", "<>"},  // not a rule on SMS commands
      {"$AR_NAME on $AR_DEV_REF", "door1", std::nullopt, "door1 on config.ports.port1.enviro"},
      {"$AR_NAME is $AR_VAL", "door1", std::nullopt, "<failed>"},  // no event, so no value
  };
  for (const auto& k : cases) EXPECT_EQ(run(k.text, k.name, k.value), k.expected) << k.text;
  EXPECT_EQ(substitute_or_keep({d.clock, d.ctx.actions.hostname}, "$AR_NAME is $AR_VAL", &d.check(0)), "$AR_NAME is $AR_VAL");
  EXPECT_TRUE(d.logged_at(kLogWarn, "Text substitution failed"));
}
