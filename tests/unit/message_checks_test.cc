// Checks on texts from outside: SMS commands, cellular data alerts and routed data readings.
#include "checks/routeddata.h"
#include "support/check_bench.h"

namespace {

const std::string kSmsKey = "config.sms.incoming";

TEST(MessageChecks, SmsTriggersForAMatchFromAnAllowedSenderAndLogsWhatItDiscards) {
  CheckBench b;
  const struct { const char *numbers, *pattern; std::string value; bool hit; std::string error; } cases[] = {
      {"+441234,+445678", "reboot", "+445678:please reboot now", true, ""},  // unanchored
      {",,123,,", "^cmd:arg$", "::123:cmd:arg", true, ""},  // leading colons go, the message keeps its own
      {"", "(r)(e)(b)(o)(o)(t)( )(n)(o)(w)", "1:please reboot now", true, ""},
      {"+441234, +445678,,", "reboot", "+445678:reboot", false, ""},  // senders are compared as whole texts
      {"", "^reboot$", "1:please reboot now", false, ""},
      {"", "(?:a|b)*c", "1:" + std::string(500000, 'a'), false, ""},  // each repetition is a level of the matcher
      {"", "a{3}$", "1:" + std::string(500000, 'a'), true, ""},       // so its depth is bounded
      {"", "", "nocolon", false, "Invalid SMS received: nocolon"},
      {"", "", "123:", false, "Invalid SMS received: 123:"},
      {"", "", ":::", false, "Invalid SMS received: :::"},
      {"", "reboot(", "1:reboot(", false, "Failed to compile regex reboot(: error missing closing parenthesis"},
      // As PCRE took them: a letter escaped for nothing is the letter, a hyphen after a class a hyphen.
      {"", "^\\yes\\b", "1:yes", true, ""},
      {"", "^[\\w-.]+$", "1:rack-4.a", true, ""},
      {"", "^[\\w-.]+$", "1:rack 4", false, ""},
      {"123", "reboot(", "456:reboot", false, ""},  // an unlisted sender is not matched
  };
  for (const auto& k : cases) {
    b.rule("sms", {{"sms.phone_number", k.numbers}, {"sms.message_pattern", k.pattern}}).logs.clear();
    EXPECT_EQ(k.hit ? "T " + k.value + " received" : "-", b.on(kArNormal, kSmsKey, k.value)) << k.value.substr(0, 40);
    EXPECT_EQ(k.error.empty() ? Strings{} : Strings{k.error}, b.errors()) << k.value.substr(0, 40);
  }
  // While Triggered only an allowed sender's message becomes the value $CELLNUM and $AR_VAL read.
  b.rule("sms", {{"sms.phone_number", "123"}, {"sms.message_pattern", "^reboot"}});
  EXPECT_EQ((Strings{"-", "-", "=", "="}),
            (Strings{b.on(kArTriggered, kSmsKey, "999:not a command"), b.on(kArTriggered, kSmsKey, "nocolon"),
                     b.on(kArTriggered, kSmsKey, ":123:not a command"), b.on(kArTriggered, kSmsKey, "123")}));
  EXPECT_EQ((Strings{kSmsKey, "0|N/A|SMS Command|N/A", "0|123:reboot|123|^reboot"}),
            (Strings{b.key(), b.device(), b.trigger(kSmsKey, "123:reboot")}));
}

TEST(MessageChecks, CellularAlertsAreRelayed) {
  CheckBench b;
  b.rule("celldata", {{"celldata.data_limit", "1000000"}, {"celldata.cell_device", "Modem A"}});
  const std::string key = kBenchRule + ".celldata.alert";
  EXPECT_EQ(key, b.key());
  EXPECT_EQ((Strings{"-", "-", "T TRIGGER:900:x received", "=", "R RESOLVE:0 received",
                     "T TRIGGER/RESOLVE:5 received"}),
            b.walk(key, {"RESOLVE:100", "trigger:900", "TRIGGER:900:x", "TRIGGER", "RESOLVE:0", "TRIGGER/RESOLVE:5"}));
  EXPECT_EQ("R TRIGGER/RESOLVE:6 received", b.on(kArTriggered, key, "TRIGGER/RESOLVE:6"));
  EXPECT_EQ((Strings{"0|900|Bytes|1000000", "0|-|Bytes|1000000", "0|Modem A|Cellular Modem|N/A"}),
            (Strings{b.trigger(key, "TRIGGER:900:x"), b.trigger(key, "TRIGGER"), b.device()}));  // no byte count
}

const std::string kThree = "0:500,30:300,50:400";

TEST(MessageChecks, RoutedDataUsesTheConfiguredWindows) {
  CheckBench b;
  Settings s{{"routeddata.interface", "config.interfaces.lan"}, {"routeddata.data_limit", "1000"},
             {"routeddata.data_resolve_time", "40"}, {"routeddata.data_period", "40"}};
  const std::string key = kBenchRule + ".check.data-readings";
  EXPECT_EQ(key, b.rule("routeddata", s).key());
  EXPECT_EQ((Strings{"-", "-"}), b.walk(key, {kThree, "10:5000"}));  // 1200 needs age 50; one reading never
  s[3].second = "60";
  b.rule("routeddata", s);
  EXPECT_EQ((Strings{"T " + kThree + " received", "=", "=", "-"}),
            b.walk(key, {kThree, kThree, "10:0", " ,"}));  // 1200 at age 50 > 1000; no reading at all
  s[1].second = "1200";
  b.rule("routeddata", s);
  EXPECT_EQ("R " + kThree + " received", b.on(kArTriggered, key, kThree));
  EXPECT_EQ((Strings{"0|10:0|Bytes|1200", "0|Management LAN|Ethernet|config.interfaces.lan"}),
            (Strings{b.trigger(key, "10:0"), b.device()}));
}

TEST(MessageChecks, RoutedDataReadingsAndTheirWindows) {
  const struct { std::string readings; uint32_t limit, window; bool triggers, resolves; } cases[] = {
      {kThree, 1000, 60, true, false}, {kThree, 1000, 40, false, false},  // 700 at age 20, 1200 at age 50
      {kThree, 1200, 50, true, true}, {kThree, 1201, 50, false, true},    // equality counts for both tests
      {kThree, 1200, 51, true, false}, {"10:5000", 1, 0, false, false},   // nothing back 51; a single reading
      {"0:1,100:600,50:600", 1200, 1000, false, true},                    // newest is older: huge age
      {"0:500,30,50:400", 900, 50, true, true}, {"0:500,30,50:400", 901, 50, false, true},  // malformed: 0
      {"0:500,30:300,50:", 800, 60, true, false}, {"0:500,30:300,50:", 801, 60, false, false},
      {"4294967290:600,10:600", 1200, 16, true, true}, {"4294967290:600,10:600", 1200, 15, false, true},  // wrap
      {"0:3000000000,1:3000000000", 4294967295u, 1, true, false},  // sums do not wrap
      {"0:-5,1:99999999999", 4294967295u, 1, true, true},           // a count is never negative, at most 2^32-1
      {" 7abc:5xyz,\t9:5 \n", 10, 2, true, true},                  // leading numbers; blanks before them go
  };
  std::vector<Reading> r;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.readings + " L " + std::to_string(k.limit) + " window " + std::to_string(k.window));
    ASSERT_TRUE(routed_parse_readings(k.readings.c_str(), &r));
    EXPECT_EQ(k.triggers, routed_triggers(r, k.limit, k.window));
    EXPECT_EQ(k.resolves, routed_resolves(r, k.limit, k.window));
  }
  EXPECT_FALSE(routed_parse_readings(",,", &r));
}

}  // namespace
