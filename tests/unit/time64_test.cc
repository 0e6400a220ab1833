// Dates after January 2038, which a 32-bit time_t cannot hold (the appliance is 32-bit ARM).
#include <gtest/gtest.h>

#include <ctime>

#include "actions/substitute.h"
#include "base/local_time.h"
#include "checks/snmp_fields.h"
#include "engine/tick.h"
#include "support/action_rules.h"
#include "support/zone_guard.h"

namespace {

constexpr uint64_t kLeapDay2040Ms = 2214131696700ULL;  // 2040-02-29 12:34:56.7 UTC, a Wednesday

// An SNMP DateAndTime: the local time and the offset in force then.
TEST(Time64, DateAndTimeInTheZoneInForceAcrossTheEndOf32BitTime) {
  static_assert(sizeof(time_t) == 8, "the whole build has a 64-bit time_t");
  const struct { const char* zone; uint64_t ms; const char* text; } dates[] = {
      {"UTC0", 0, "07b20101000000002b0000"},
      {"<+10>-10", 1796365827500ULL, "07ea0c04101e1b052b0a00"},   // 16:30:27.5 local
      {"UTC0", 1704067199999ULL, "07e70c1f173b3b092b0000"},       // the last millisecond of 2023
      {"<+14>-14", 1704110400000ULL, "07e80102020000002b0e00"},   // already 2 January there
      {"<-0930>9:30", 1704110400000ULL, "07e80101021e00002d091e"},
      {"NST3:30NDT,M3.2.0,M11.1.0", 1705320000000ULL, "07e8010f081e00002d031e"},  // winter
      {"NST3:30NDT,M3.2.0,M11.1.0", 1721044800000ULL, "07e8070f091e00002d021e"},  // summer
      {"UTC0", 2147483647000ULL, "07f60113030e07002b0000"},  // the last second a 32-bit time_t holds
      {"UTC0", 2147483648000ULL, "07f60113030e08002b0000"},  // the first it does not
      {"UTC0", kLeapDay2040Ms, "07f8021d0c2238072b0000"},
      {"<+10>-10", kLeapDay2040Ms, "07f8021d162238072b0a00"},
      {"UTC0", 4294967296000ULL, "083a0207061c10002b0000"},  // past an unsigned 32-bit count too
      {"UTC0", UINT64_MAX, "ffff04030e1933062b0000"},  // the year is held at 65535
  };
  for (const auto& [zone, ms, text] : dates) {
    ZoneGuard guard(zone);
    EXPECT_EQ(snmp_date_and_time(ms), text) << zone << " " << ms;
  }
}

// The local time people read (silences, status, log), in the zone in force at each call, past 2038 too; a time the C
// library cannot tell gives the caller's text.
TEST(Time64, LocalTimeTextFollowsTheZoneAcrossTheEndOf32BitTime) {
  const struct { const char* zone; int64_t seconds; const char* text; } times[] = {
      {"UTC0", 2147483648, "2038-01-19 03:14:08"},
      {"<+10>-10", 2147483648, "2038-01-19 13:14:08"},
      {"UTC0", 2214131696, "2040-02-29 12:34:56"},
      {"UTC0", INT64_MAX, "?"},
  };
  for (const auto& [zone, seconds, text] : times) {
    ZoneGuard guard(zone);
    EXPECT_EQ(text, local_time_text(seconds, "?")) << zone << " " << seconds;
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
  EXPECT_EQ(substitute_or_keep({d.clock, d.ctx.actions.hostname}, "at $TIMESTAMP", &d.check(0)), "at 2040 Feb 29 12:34:56");
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

  // Tuesday at 12:34, Wednesday at 12:34 and at 17:34.
  for (const auto& [seconds, state] : {std::pair{-86400, kArNormal}, {0, kArDisabled}, {5 * 3600, kArNormal}}) {
    d.clock.wall = static_cast<time_t>(kLeapDay2040Ms / 1000) + seconds;
    d.tick();
    EXPECT_EQ(d.check(0).state, state) << seconds;
  }

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
