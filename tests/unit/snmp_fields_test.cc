// The texts of the SNMP alert arguments: DateAndTime in zones east and west
// of UTC, with and without summer time; the strtok-style splitter; the web
// and CLI login fields; port numbers and readings as clamped integers.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "actions/snmp_fields.h"
#include "support/zone_guard.h"

namespace {

// --- DateAndTime -------------------------------------------------------------

TEST(SnmpDateAndTime, EpochInUtc) {
  ZoneGuard zone("UTC0");
  EXPECT_EQ(snmp_date_and_time(0), "07b20101000000002b0000");
}

TEST(SnmpDateAndTime, TenHoursEastWithDeciseconds) {
  ZoneGuard zone("<+10>-10");
  // 4 December 2026, 16:30:27.5 local time.
  EXPECT_EQ(snmp_date_and_time(1796365827500ULL), "07ea0c04101e1b052b0a00");
}

TEST(SnmpDateAndTime, LastMillisecondOfAYear) {
  ZoneGuard zone("UTC0");
  EXPECT_EQ(snmp_date_and_time(1704067199999ULL), "07e70c1f173b3b092b0000");
  EXPECT_EQ(snmp_date_and_time(1704067200000ULL), "07e80101000000002b0000");
}

TEST(SnmpDateAndTime, ZoneEastOfUtcIsADayAhead) {
  ZoneGuard zone("<+14>-14");
  // 1 January 2024 12:00 UTC is 2 January 02:00 there.
  EXPECT_EQ(snmp_date_and_time(1704110400000ULL), "07e80102020000002b0e00");
}

TEST(SnmpDateAndTime, HalfHourZonesWestOfUtc) {
  ZoneGuard zone("<-0930>9:30");
  EXPECT_EQ(snmp_date_and_time(1704110400000ULL), "07e80101021e00002d091e");
  // The epoch west of UTC is still the last day of 1969 there.
  EXPECT_EQ(snmp_date_and_time(0), "07b10c1f0e1e00002d091e");
}

TEST(SnmpDateAndTime, OffsetFollowsSummerTimeWest) {
  ZoneGuard zone("NST3:30NDT,M3.2.0,M11.1.0");
  // 15 January 2024 12:00 UTC: 08:30 standard time, 3:30 west.
  EXPECT_EQ(snmp_date_and_time(1705320000000ULL), "07e8010f081e00002d031e");
  // 15 July 2024 12:00 UTC: 09:30 summer time, 2:30 west.
  EXPECT_EQ(snmp_date_and_time(1721044800000ULL), "07e8070f091e00002d021e");
}

TEST(SnmpDateAndTime, OffsetFollowsSummerTimeEast) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(snmp_date_and_time(1705320000000ULL), "07e8010f0d0000002b0100");
  EXPECT_EQ(snmp_date_and_time(1721044800000ULL), "07e8070f0e0000002b0200");
}

TEST(SnmpDateAndTime, AlwaysTwentyTwoHexDigits) {
  const char* zones[] = {"UTC0", "<+14>-14", "<-12>12", "NST3:30NDT,M3.2.0,M11.1.0", "<+0545>-5:45"};
  const uint64_t times[] = {0,
                            999,
                            1700000000123ULL,
                            253402300799999ULL,  // the last millisecond of year 9999
                            4102444800000ULL * 100,
                            UINT64_MAX / 2,
                            UINT64_MAX};
  for (const char* z : zones) {
    ZoneGuard zone(z);
    for (const uint64_t t : times) {
      const std::string text = snmp_date_and_time(t);
      EXPECT_EQ(text.size(), kDateAndTimeLength) << z << " " << t << " " << text;
      EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    }
  }
}

TEST(SnmpDateAndTime, YearsBeyondTwoOctetsStayInTheirField) {
  ZoneGuard zone("UTC0");
  const std::string text = snmp_date_and_time(UINT64_MAX);
  EXPECT_EQ(text.substr(0, 4), "ffff");
  // The offset octets are still where a reader expects them.
  EXPECT_EQ(text.substr(16), "2b0000");
}

// --- split_fields --------------------------------------------------------------

TEST(SplitFields, SkipsLeadingAndRepeatedDelimiters) {
  FieldCursor c("::a:::b:");
  EXPECT_EQ(split_fields(&c, ":"), "a");
  EXPECT_EQ(split_fields(&c, ":"), "b");
  EXPECT_EQ(split_fields(&c, ":"), std::nullopt);
  EXPECT_EQ(split_fields(&c, ":"), std::nullopt);
  EXPECT_EQ(c.position, c.text.size());
}

TEST(SplitFields, DelimiterSetsChangeBetweenCalls) {
  FieldCursor c("LOGIN: root now");
  EXPECT_EQ(split_fields(&c, ": "), "LOGIN");
  EXPECT_EQ(c.position, 6u);  // just past the colon
  EXPECT_EQ(split_fields(&c, " "), "root");
  EXPECT_EQ(split_fields(&c, ""), "now");
}

TEST(SplitFields, EmptyDelimiterSetTakesTheRest) {
  FieldCursor c("a:b");
  EXPECT_EQ(split_fields(&c, ":"), "a");
  EXPECT_EQ(split_fields(&c, ""), "b");
  EXPECT_EQ(split_fields(&c, ""), std::nullopt);
  FieldCursor empty("");
  EXPECT_EQ(split_fields(&empty, ""), std::nullopt);
  EXPECT_EQ(split_fields(&empty, ":"), std::nullopt);
}

TEST(SplitFields, PositionPastTheEndIsTheEnd) {
  FieldCursor c("abc");
  c.position = 99;
  EXPECT_EQ(split_fields(&c, ":"), std::nullopt);
  EXPECT_EQ(c.position, 3u);
}

// --- login fields --------------------------------------------------------------

TEST(WebLoginFields, PlainFields) {
  const WebLoginFields f = parse_web_login("LOGIN: admin:192.0.2.4:https");
  EXPECT_EQ(f.event, "LOGIN");
  EXPECT_EQ(f.user, "admin");
  EXPECT_EQ(f.address, "192.0.2.4");
  EXPECT_EQ(f.detail, "https");
}

TEST(WebLoginFields, BracketedAddressKeepsItsColons) {
  const WebLoginFields f = parse_web_login("AUTH ERROR: bob:[2001:db8::7]:8443:more");
  EXPECT_EQ(f.event, "AUTH ERROR");
  EXPECT_EQ(f.user, "bob");
  EXPECT_EQ(f.address, "[2001:db8::7]");
  EXPECT_EQ(f.detail, "8443");
}

TEST(WebLoginFields, BracketedAddressRunsToTheColonAfterTheBracket) {
  EXPECT_EQ(parse_web_login("LOGIN: u:[fe80::1]%eth0:x").address, "[fe80::1]%eth0");
  const WebLoginFields last = parse_web_login("LOGIN: u:[::1]");
  EXPECT_EQ(last.address, "[::1]");
  EXPECT_EQ(last.detail, "");
}

TEST(WebLoginFields, UnclosedBracketLeavesAddressAndDetailUnknown) {
  const WebLoginFields f = parse_web_login("LOGIN: u:[2001:db8::7:more");
  EXPECT_EQ(f.user, "u");
  EXPECT_EQ(f.address, "unknown");
  EXPECT_EQ(f.detail, "");
}

TEST(WebLoginFields, OnlyTheEventWord) {
  const WebLoginFields f = parse_web_login("LOGOUT");
  EXPECT_EQ(f.event, "LOGOUT");
  EXPECT_EQ(f.user, "unknown");
  EXPECT_EQ(f.address, "unknown");
  EXPECT_EQ(f.detail, "");
}

TEST(WebLoginFields, NothingAtAll) {
  for (const char* value : {"", ":::"}) {
    const WebLoginFields f = parse_web_login(value);
    EXPECT_EQ(f.event, "UNKNOWN");
    EXPECT_EQ(f.user, "unknown");
    EXPECT_EQ(f.address, "unknown");
    EXPECT_EQ(f.detail, "");
  }
}

TEST(WebLoginFields, OnlyOneLeadingSpaceOfTheUserIsDropped) {
  EXPECT_EQ(parse_web_login("LOGIN:  two").user, " two");
  EXPECT_EQ(parse_web_login("LOGIN: :x").user, " ");  // a lone space stays
  EXPECT_EQ(parse_web_login("LOGIN:bare").user, "bare");
}

TEST(CliLoginFields, AllFiveFields) {
  const CliLoginFields f = parse_cli_login("LOGIN: root:sshd:/bin/bash:fe80::2 port 22");
  EXPECT_EQ(f.event, "LOGIN");
  EXPECT_EQ(f.user, "root");
  EXPECT_EQ(f.service, "sshd");
  EXPECT_EQ(f.program, "/bin/bash");
  EXPECT_EQ(f.rest, "fe80::2 port 22");
}

TEST(CliLoginFields, MissingTailFields) {
  const CliLoginFields f = parse_cli_login("AUTH ERROR: eve");
  EXPECT_EQ(f.event, "AUTH ERROR");
  EXPECT_EQ(f.user, "eve");
  EXPECT_EQ(f.service, std::nullopt);
  EXPECT_EQ(f.program, std::nullopt);
  EXPECT_EQ(f.rest, "");
  const CliLoginFields none = parse_cli_login("");
  EXPECT_EQ(none.event, "UNKNOWN");
  EXPECT_EQ(none.user, "unknown");
}

// --- port numbers and readings ----------------------------------------------

TEST(SnmpPortNumber, ReadsTheNumberAfterThePrefix) {
  EXPECT_EQ(snmp_port_number("config.ports.port4"), 4);
  EXPECT_EQ(snmp_port_number("config.ports.port12.signal"), 12);
  EXPECT_EQ(snmp_port_number("config.ports.port -3"), -3);
  EXPECT_EQ(snmp_port_number("config.ports.port2147483647"), 2147483647);
  EXPECT_EQ(snmp_port_number("config.ports.port-2147483648"), -2147483648LL);
}

TEST(SnmpPortNumber, ZeroWhenAbsentForeignOrTooLarge) {
  EXPECT_EQ(snmp_port_number(""), 0);
  EXPECT_EQ(snmp_port_number("config.ports.port"), 0);
  EXPECT_EQ(snmp_port_number("config.ports.portx"), 0);
  EXPECT_EQ(snmp_port_number("config.sdt.hosts.host4"), 0);
  EXPECT_EQ(snmp_port_number("xconfig.ports.port4"), 0);
  EXPECT_EQ(snmp_port_number("config.ports.port2147483648"), 0);
  EXPECT_EQ(snmp_port_number("config.ports.port-2147483649"), 0);
  EXPECT_EQ(snmp_port_number("config.ports.port99999999999999999999999"), 0);
}

TEST(SnmpValueInt, TruncatesTowardZero) {
  EXPECT_EQ(snmp_value_int("23.7"), 23);
  EXPECT_EQ(snmp_value_int("-1.5"), -1);
  EXPECT_EQ(snmp_value_int("  42degC"), 42);
  EXPECT_EQ(snmp_value_int("warm"), 0);
  EXPECT_EQ(snmp_value_int(""), 0);
}

TEST(SnmpValueInt, ClampsReadingsOutsideTheRange) {
  EXPECT_EQ(snmp_value_int("1e10"), INT32_MAX);
  EXPECT_EQ(snmp_value_int("-1e10"), INT32_MIN);
  EXPECT_EQ(snmp_value_int("inf"), INT32_MAX);
  EXPECT_EQ(snmp_value_int("-inf"), INT32_MIN);
  EXPECT_EQ(snmp_value_int("1e999"), INT32_MAX);
  EXPECT_EQ(snmp_value_int("nan"), 0);
  EXPECT_EQ(snmp_value_int("-nan"), 0);
}

}  // namespace
