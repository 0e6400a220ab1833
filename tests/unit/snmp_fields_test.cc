// The texts the SNMP alert arguments are made of: DateAndTime with the offset
// in force, the strtok-style splitter, login fields, port numbers, readings.
#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "actions/snmp_fields.h"
#include "support/zone_guard.h"

namespace {

TEST(SnmpDateAndTime, LocalTimeAndTheOffsetInForce) {
  const struct { const char* zone; uint64_t ms; const char* text; } cases[] = {
      {"UTC0", 0, "07b20101000000002b0000"},
      {"<+10>-10", 1796365827500ULL, "07ea0c04101e1b052b0a00"},   // 16:30:27.5 local
      {"UTC0", 1704067199999ULL, "07e70c1f173b3b092b0000"},       // the last millisecond of 2023
      {"<+14>-14", 1704110400000ULL, "07e80102020000002b0e00"},   // already 2 January there
      {"<-0930>9:30", 1704110400000ULL, "07e80101021e00002d091e"},
      {"<-0930>9:30", 0, "07b10c1f0e1e00002d091e"},                // still 1969 there
      {"NST3:30NDT,M3.2.0,M11.1.0", 1705320000000ULL, "07e8010f081e00002d031e"},  // winter
      {"NST3:30NDT,M3.2.0,M11.1.0", 1721044800000ULL, "07e8070f091e00002d021e"},  // summer
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1705320000000ULL, "07e8010f0d0000002b0100"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1721044800000ULL, "07e8070f0e0000002b0200"},
      {"UTC0", UINT64_MAX, "ffff04030e1933062b0000"},  // the year is held at 65535
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.ms));
    ZoneGuard zone(c.zone);
    EXPECT_EQ(snmp_date_and_time(c.ms), c.text);
  }
  for (const char* z : {"<+14>-14", "<-12>12", "<+0545>-5:45", "NST3:30NDT,M3.2.0,M11.1.0"}) {
    ZoneGuard zone(z);
    for (const uint64_t t : std::initializer_list<uint64_t>{0, 999, 253402300799999ULL, UINT64_MAX / 2, UINT64_MAX}) {
      const std::string text = snmp_date_and_time(t);
      EXPECT_EQ(text.size(), kDateAndTimeLength) << z << " " << t;
      EXPECT_EQ(text.find_first_not_of("0123456789abcdef"), std::string::npos) << text;
    }
  }
}

TEST(SplitFields, SkipsDelimiterRunsAndStopsAtTheEnd) {
  FieldCursor c("::a:::b: c d");
  EXPECT_EQ(split_fields(&c, ":"), "a");
  EXPECT_EQ(split_fields(&c, ": "), "b");
  EXPECT_EQ(c.position, 8u);  // just past the delimiter after the field
  EXPECT_EQ(split_fields(&c, ""), " c d");  // no delimiters: the rest
  EXPECT_EQ(split_fields(&c, ":"), std::nullopt);
  c.position = 99;
  EXPECT_EQ(split_fields(&c, ""), std::nullopt);
  EXPECT_EQ(c.position, c.text.size());
}

TEST(LoginFields, WebAndCliValues) {
  const struct { const char* value; const char* event; const char* user; const char* address; const char* detail; }
  web[] = {
      {"LOGIN: admin:192.0.2.4:https", "LOGIN", "admin", "192.0.2.4", "https"},
      {"AUTH ERROR: bob:[2001:db8::7]:8443:more", "AUTH ERROR", "bob", "[2001:db8::7]", "8443"},
      {"LOGIN: u:[fe80::1]%eth0:x", "LOGIN", "u", "[fe80::1]%eth0", "x"},
      {"LOGIN: u:[::1]", "LOGIN", "u", "[::1]", ""},
      {"LOGIN: u:[2001:db8::7:more", "LOGIN", "u", "unknown", ""},  // never closed
      {"LOGOUT", "LOGOUT", "unknown", "unknown", ""},
      {":::", "UNKNOWN", "unknown", "unknown", ""},
      {"LOGIN:  two", "LOGIN", " two", "unknown", ""},  // one leading space dropped
      {"LOGIN: :x", "LOGIN", " ", "x", ""},            // a lone space stays
  };
  for (const auto& w : web) {
    const WebLoginFields f = parse_web_login(w.value);
    EXPECT_EQ(f.event + "|" + f.user + "|" + f.address + "|" + f.detail,
              std::string(w.event) + "|" + w.user + "|" + w.address + "|" + w.detail);
  }
  const CliLoginFields all = parse_cli_login("LOGIN: root:sshd:/bin/bash:fe80::2 port 22");
  EXPECT_EQ(all.event + "|" + all.user + "|" + all.service.value_or("-") + "|" + all.program.value_or("-") + "|" +
                all.rest,
            "LOGIN|root|sshd|/bin/bash|fe80::2 port 22");
  const CliLoginFields few = parse_cli_login("AUTH ERROR: eve");
  EXPECT_EQ(few.event + "|" + few.user + "|" + few.rest, "AUTH ERROR|eve|");
  EXPECT_FALSE(few.service || few.program);
  EXPECT_EQ(parse_cli_login("").event + parse_cli_login("").user, "UNKNOWNunknown");
}

TEST(SnmpNumbers, PortNumbersAndClampedReadings) {
  const std::pair<const char*, int32_t> ports[] = {
      {"config.ports.port4", 4}, {"config.ports.port12.signal", 12}, {"config.ports.port -3", -3},
      {"config.ports.port2147483647", INT32_MAX}, {"config.ports.port-2147483648", INT32_MIN},
      {"config.ports.port2147483648", 0}, {"config.ports.port-2147483649", 0},
      {"config.ports.port99999999999999999999999", 0}, {"config.ports.port", 0}, {"config.ports.portx", 0},
      {"config.sdt.hosts.host4", 0}, {"xconfig.ports.port4", 0}, {"", 0}};
  for (const auto& [ref, n] : ports) EXPECT_EQ(snmp_port_number(ref), n) << ref;
  const std::pair<const char*, int32_t> readings[] = {
      {"23.7", 23}, {"-1.5", -1}, {"  42degC", 42}, {"warm", 0}, {"", 0}, {"1e10", INT32_MAX},
      {"-1e10", INT32_MIN}, {"inf", INT32_MAX}, {"-inf", INT32_MIN}, {"1e999", INT32_MAX}, {"nan", 0}, {"-nan", 0}};
  for (const auto& [reading, n] : readings) EXPECT_EQ(snmp_value_int(reading), n) << reading;
}

}  // namespace
