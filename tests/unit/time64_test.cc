// Dates after January 2038, which a 32-bit time_t cannot hold (the appliance is 32-bit ARM): an update's
// milliseconds through the link into an SNMP alert's DateAndTime, $TIMESTAMP, the weekday of a disable window,
// and action delays on a clock past 2^31 seconds.
#include <gtest/gtest.h>

#include <ctime>

#include "actions/substitute.h"
#include "checks/snmp_fields.h"
#include "engine/tick.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

namespace {

constexpr uint64_t kLeapDay2040Ms = 2214131696700ULL;  // 2040-02-29 12:34:56.7 UTC, a Wednesday

TEST(Time64, DateAndTimeAcrossTheEndOf32BitTime) {
  static_assert(sizeof(time_t) == 8, "the whole build has a 64-bit time_t");
  const struct { const char* zone; uint64_t ms; const char* text; } dates[] = {
      {"UTC0", 2147483647000ULL, "07f60113030e07002b0000"},  // the last second a 32-bit time_t holds
      {"UTC0", 2147483648000ULL, "07f60113030e08002b0000"},  // the first it does not
      {"UTC0", kLeapDay2040Ms, "07f8021d0c2238072b0000"},
      {"<+10>-10", kLeapDay2040Ms, "07f8021d162238072b0a00"},
      {"UTC0", 4294967296000ULL, "083a0207061c10002b0000"},  // past an unsigned 32-bit count too
  };
  for (const auto& [zone, ms, text] : dates) {
    ZoneGuard guard(zone);
    EXPECT_EQ(snmp_date_and_time(ms), text) << zone << " " << ms;
  }
}

TEST(Time64, An2040UpdateReachesTheAlertAndTheTimestamp) {
  ZoneGuard zone("UTC0");
  TestDaemon d;
  d.write_config(sensor_rule("snmp"));
  ASSERT_EQ(d.load(), 0);
  // The update's time field is read as 64 bits and becomes the alert's event time.
  ASSERT_EQ(d.deliver(kSensorKey, kHot, kLeapDay2040Ms), 0);
  ASSERT_EQ(d.spawner.starts.size(), 1u);
  ASSERT_GT(d.spawner.starts[0].argv.size(), 4u);
  EXPECT_EQ(d.spawner.starts[0].argv[4], "07f8021d0c2238072b0000");

  d.clock.wall = static_cast<time_t>(kLeapDay2040Ms / 1000);
  EXPECT_EQ(substitute_or_keep(d.ctx.queue, "at $TIMESTAMP", &d.check(0)), "at 2040 Feb 29 12:34:56");
}

TEST(Time64, DisableWindowsAndDelaysAfter2038) {
  ZoneGuard zone("UTC0");
  TestDaemon d;
  ConfigBuilder c = sensor_rule("custom");
  c.set(kTrigger + ".custom.script", "/bin/true").set(kTrigger + ".delay_time", 60);
  // Off on Wednesdays from 09:00 to 17:00.
  const std::string day3 = kRule + ".disable.day3.";
  c.set(kRule + ".disable.day0.start_hour", "0");
  c.set(day3 + "start_hour", 9).set(day3 + "start_min", 0).set(day3 + "end_hour", 17).set(day3 + "end_min", 0);
  d.write_config(c);
  ASSERT_EQ(d.load(), 0);

  d.clock.wall = static_cast<time_t>(kLeapDay2040Ms / 1000) - 86400;  // Tuesday, 12:34
  d.tick();
  EXPECT_EQ(d.check(0).state, kArNormal);
  d.clock.wall += 86400;  // Wednesday, 12:34
  d.tick();
  EXPECT_EQ(d.check(0).state, kArDisabled);
  d.clock.wall += 5 * 3600;  // 17:34
  d.tick();
  EXPECT_EQ(d.check(0).state, kArNormal);

  // A monotonic clock past 2^31 seconds still counts the 60-second delay exactly.
  d.clock.monotonic = 3000000000LL;
  ASSERT_EQ(d.deliver(kSensorKey, kHot, kLeapDay2040Ms), 0);
  d.clock.advance(59);
  d.tick();
  EXPECT_TRUE(d.spawner.starts.empty());
  d.clock.advance(1);
  d.tick();
  EXPECT_EQ(d.spawner.starts.size(), 1u);
}

}  // namespace
