// Cellular data and routed data checks: alert relaying, the readings parser and the two byte-count windows.
#include "checks/routeddata.h"
#include "support/check_probe.h"

const char kThree[] = "0:500,30:300,50:400";

using DataCheck = CheckTest;

TEST_F(DataCheck, CelldataRelaysTheAlertAndRouteddataUsesTheConfiguredWindows) {
  const std::string routed = probe_rule_path(2) + ".routeddata.";
  rule(1, "celldata", {{"celldata.data_limit", "1000000"}});
  rule(2, "routeddata", {{"routeddata.interface", "config.interfaces.lan"}, {"routeddata.data_limit", "1000"},
                         {"routeddata.data_resolve_time", "40"}, {"routeddata.data_period", "40"}});
  load(2);
  EXPECT_EQ((Strings{probe_rule_path(1) + ".celldata.alert", probe_rule_path(2) + ".check.data-readings"}), subs);
  walk({1}, subs[0], {{"RESOLVE:100", '-'}, {"trigger:900", '-'}, {"TRIGGER:900:x", 'T'}});
  EXPECT_EQ("0|900|Bytes|1000000", trigger_of(0));
  walk({1}, subs[0], {{"TRIGGER", 'r'}});
  EXPECT_EQ("0|-|Bytes|1000000", trigger_of(0));  // no byte count
  walk({1}, subs[0], {{"RESOLVE:0", 'N'}, {"TRIGGER/RESOLVE:5", 'T'}, {"TRIGGER/RESOLVE:6", 'N'}});
  walk({2}, subs[1], {{kThree, '-'}, {"10:5000", '-'}});  // 1200 needs age 50; one reading never triggers
  set(routed + "data_period", "60");
  walk({2}, subs[1], {{kThree, 'T'}, {kThree, 'r'}, {"10:0", 'r'}, {" ,", '-'}});  // 1200 at age 50 > 1000
  EXPECT_EQ("0|10:0|Bytes|1000", trigger_of(1));
  set(routed + "data_limit", "1200");
  walk({2}, subs[1], {{kThree, 'N'}});
  EXPECT_EQ("0|Management LAN|Ethernet|config.interfaces.lan", device_of(1));
  const struct { const char* readings; uint32_t limit, window; bool triggers, resolves; } cases[] = {
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
    SCOPED_TRACE(std::string(k.readings) + " L " + std::to_string(k.limit) + " window " + std::to_string(k.window));
    ASSERT_TRUE(routed_parse_readings(k.readings, &r));
    EXPECT_EQ(k.triggers, routed_triggers(r, k.limit, k.window));
    EXPECT_EQ(k.resolves, routed_resolves(r, k.limit, k.window));
  }
  EXPECT_FALSE(routed_parse_readings(",,", &r));
}
