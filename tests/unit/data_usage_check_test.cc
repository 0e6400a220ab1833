// Cellular data and routed data checks: alert relaying, the readings
// parser and the two byte-count windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "checks/celldata.h"
#include "checks/routeddata.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kRule = probe_rule_path(1);
const char kThree[] = "0:500,30:300,50:400";

using DataCheck = CheckTest;

TEST_F(DataCheck, CelldataRelaysTheVerdictOfTheAlert) {
  probe_rule(c, 1, "celldata");
  c.set(kRule + ".celldata.data_limit", "1000000");
  load(1);
  EXPECT_EQ(Strings{kRule + ".celldata.alert"}, subs);
  walk({1}, subs[0], {{"RESOLVE:100", '-'}, {"trigger:900", '-'}, {"TRIGGER:900", 'T'}});
  EXPECT_EQ("0|900|Bytes|1000000", trigger_of(d.check(0)));
  walk({1}, subs[0], {{"TRIGGER", 'r'}});
  EXPECT_EQ("0|-|Bytes|1000000", trigger_of(d.check(0)));  // no byte count
  walk({1}, subs[0], {{"RESOLVE:0", 'N'}, {"TRIGGER/RESOLVE:5", 'T'}, {"TRIGGER/RESOLVE:6", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule + " triggered. val TRIGGER:900 received"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule + " resolving. val RESOLVE:0 received"));
  EXPECT_EQ("900", celldata_alert_bytes("TRIGGER:900:extra"));
  EXPECT_EQ("", celldata_alert_bytes("TRIGGER:"));
}

TEST_F(DataCheck, RouteddataUsesTheConfiguredWindowsAndDescribesItsInterface) {
  probe_rule(c, 1, "routeddata");
  const std::string p = kRule + ".routeddata.";
  c.set(p + "interface", "config.interfaces.lan").set(p + "data_limit", "1000").set(p + "data_resolve_time", "40");
  c.set(p + "data_period", "40").set("config.openvpn.tunnels.tunnel2.name", "office");
  load(1);
  EXPECT_EQ(Strings{kRule + ".check.data-readings"}, subs);
  walk({1}, subs[0], {{kThree, '-'}, {"10:5000", '-'}});  // 1200 needs age 50; one reading never triggers
  set(p + "data_period", "60");
  walk({1}, subs[0], {{kThree, 'T'}, {kThree, 'r'}, {"10:0", 'r'}, {" ,", '-'}});  // 1200 at age 50 > 1000
  EXPECT_EQ("0|10:0|Bytes|1000", trigger_of(d.check(0)));
  set(p + "data_limit", "1200");
  walk({1}, subs[0], {{kThree, 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule + " triggered. val " + kThree + " received"));
  EXPECT_EQ("0|Management LAN|Ethernet|config.interfaces.lan", device_of(d.check(0)));
  set(p + "interface", "config.openvpn.tunnels.tunnel2");
  EXPECT_EQ("0|office|VPN Tunnel|config.openvpn.tunnels.tunnel2", device_of(d.check(0)));
  set(p + "interface", "config.interfaces.lan2");
  EXPECT_EQ("-1|-|-|-", device_of(d.check(0)));
}

TEST(RoutedWindows, SumAndAgeBoundaries) {
  const struct { const char* readings; uint32_t limit, window; bool triggers, resolves; } cases[] = {
      {kThree, 1000, 60, true, false},   // 700 at age 20, 1200 at age 50
      {kThree, 1000, 40, false, false},  // resolve compares 1200 at age 50
      {kThree, 1200, 50, true, true},    // equality counts for both tests
      {kThree, 1201, 50, false, true},
      {kThree, 1200, 51, true, false},   // nothing reaches back 51
      {"10:5000", 1, 0, false, false},   // a single reading
      {"0:1,100:600,50:600", 1200, 1000, false, true},  // newest is older: huge age
      {"0:500,30,50:400", 900, 50, true, true},    // the malformed reading counts 0
      {"0:500,30,50:400", 901, 50, false, true},
      {"0:500,30:300,50:", 800, 60, true, false},  // so does a newest without bytes
      {"0:500,30:300,50:", 801, 60, false, false},
      {"4294967290:600,10:600", 1200, 16, true, true},  // ages across the wrap
      {"4294967290:600,10:600", 1200, 15, false, true},
      {"0:3000000000,1:3000000000", 4294967295u, 1, true, false},  // sums do not wrap
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.readings) + " L " + std::to_string(c.limit) + " window " + std::to_string(c.window));
    std::vector<Reading> r;
    ASSERT_TRUE(routed_parse_readings(c.readings, &r));
    EXPECT_EQ(c.triggers, routed_triggers(r, c.limit, c.window));
    EXPECT_EQ(c.resolves, routed_resolves(r, c.limit, c.window));
  }
}

TEST(RoutedWindows, ReadingsParseWithLeadingIntegers) {
  std::vector<Reading> r;
  ASSERT_TRUE(routed_parse_readings(" 12abc:34xyz,\t:300 \n7,-10:-1,1:99999999999999999999", &r));
  std::string parsed;
  for (const Reading& one : r) parsed += std::to_string(one.time) + ":" + std::to_string(one.bytes) + " ";
  EXPECT_EQ("12:34 0:300 7:0 4294967286:0 1:4294967295 ", parsed);
  EXPECT_FALSE(routed_parse_readings(",,", &r));
  EXPECT_TRUE(r.empty());
}

}  // namespace
