// Cellular data and routed data checks: alert relaying, the readings
// parser and the two byte-count windows.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "checks/celldata.h"
#include "checks/routeddata.h"
#include "support/check_probe.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kRule = probe_rule_path(1);

// One rule of check type `type`; set() edits a setting in place.
class DataCheck : public ::testing::Test {
 protected:
  void load(const std::string& type, const std::vector<std::pair<std::string, std::string>>& settings) {
    config.set("config.autoresponse.total", 1);
    probe_rule(config, 1, type);
    for (const auto& [key, value] : settings) config.set(kRule + "." + key, value);
    d.write_config(config);
    ASSERT_EQ(d.load(), 0);
    d.take_sent();
  }
  void set(const std::string& key, const std::string& value) {
    config.set(kRule + "." + key, value);
    d.write_config(config);
  }
  ArCheck& check() { return d.check(0); }

  ConfigBuilder config;
  TestDaemon d;
};

class CelldataCheck : public DataCheck {
 protected:
  void SetUp() override { load("celldata", {{"celldata.cell_device", "Modem A"}, {"celldata.data_limit", "1000000"}}); }
  void deliver(const std::string& value) { ASSERT_EQ(d.deliver(kRule + ".celldata.alert", value), 0); }
};

TEST_F(CelldataCheck, RelaysTheVerdictOfTheAlert) {
  EXPECT_EQ(check().subscription, kRule + ".celldata.alert");
  for (const char* ignored : {"RESOLVE:100", "USAGE:500", "trigger:900"}) deliver(ignored);
  EXPECT_TRUE(d.take_sent().empty());

  deliver("TRIGGER:900");
  EXPECT_EQ(check().state, kArTriggered);
  EXPECT_TRUE(d.logged("AR " + kRule + " triggered. val TRIGGER:900 received"));
  const Described t = describe_trigger_of(check());
  EXPECT_EQ(t.result, 0);
  EXPECT_EQ(t.first, "900");
  EXPECT_EQ(t.second, "Bytes");
  EXPECT_EQ(t.third, "1000000");
  d.take_sent();

  deliver("TRIGGER:950");
  std::vector<SentMessage> sent = d.take_sent();
  EXPECT_EQ(probe_values(sent, 1), Strings{"TRIGGER:950"});
  EXPECT_TRUE(probe_states(sent, 1).empty());
  deliver("RESOLVE:0");
  EXPECT_EQ(probe_states(d.take_sent(), 1), (Strings{"Resolving", "Normal"}));
  EXPECT_TRUE(d.logged("AR " + kRule + " resolving. val RESOLVE:0 received"));

  deliver("TRIGGER/RESOLVE:5");  // both words: triggers, then resolves
  deliver("TRIGGER/RESOLVE:6");
  EXPECT_EQ(probe_states(d.take_sent(), 1), (Strings{"Triggered", "Resolving", "Normal"}));
}

TEST_F(CelldataCheck, DescribesTheModemAndAOneFieldAlertWithoutValue) {
  const Described dev = describe_device_of(check());
  EXPECT_EQ(dev.first, "Modem A");
  EXPECT_EQ(dev.second, "Cellular Modem");
  EXPECT_EQ(dev.third, "N/A");
  EXPECT_EQ(describe_trigger_of(check()).result, -1);
  deliver("TRIGGER");
  const Described t = describe_trigger_of(check());
  EXPECT_EQ(t.result, 0);
  EXPECT_FALSE(t.first.has_value());
  EXPECT_EQ(t.second, "Bytes");
  EXPECT_EQ(t.third, "1000000");
  EXPECT_EQ(celldata_alert_bytes("TRIGGER:900:extra"), "900");
  EXPECT_EQ(celldata_alert_bytes("TRIGGER:"), "");
}

// --- Routed data ------------------------------------------------------------

const char kThree[] = "0:500,30:300,50:400";

class RouteddataCheck : public DataCheck {
 protected:
  void SetUp() override {
    load("routeddata", {{"routeddata.interface", "config.interfaces.lan"},
                        {"routeddata.data_limit", "1000"},
                        {"routeddata.data_period", "60"},
                        {"routeddata.data_resolve_time", "40"}});
  }
  void deliver(const std::string& value) { ASSERT_EQ(d.deliver(kRule + ".check.data-readings", value), 0); }
};

TEST_F(RouteddataCheck, TriggersRefreshesAndResolvesOnTheConfiguredWindows) {
  EXPECT_EQ(check().subscription, kRule + ".check.data-readings");
  set("routeddata.data_period", "40");
  deliver(kThree);  // 1200 would be reached only with the reading of age 50
  deliver("10:5000");  // one reading never triggers
  EXPECT_TRUE(d.take_sent().empty());

  set("routeddata.data_period", "60");
  deliver(kThree);
  EXPECT_EQ(check().state, kArTriggered);
  EXPECT_TRUE(d.logged(std::string("AR ") + kRule + " triggered. val " + kThree + " received"));
  const Described t = describe_trigger_of(check());
  EXPECT_EQ(t.first, kThree);
  EXPECT_EQ(t.second, "Bytes");
  EXPECT_EQ(t.third, "1000");
  d.take_sent();

  deliver(kThree);  // 1200 at age 50 >= 40 is above 1000
  deliver("10:0");  // a single reading refreshes
  deliver(" ,");    // an empty list is discarded
  std::vector<SentMessage> sent = d.take_sent();
  EXPECT_EQ(probe_values(sent, 1), (Strings{kThree, "10:0"}));
  EXPECT_TRUE(probe_states(sent, 1).empty());

  set("routeddata.data_limit", "1200");
  deliver(kThree);
  EXPECT_EQ(probe_states(d.take_sent(), 1), (Strings{"Resolving", "Normal"}));
  EXPECT_TRUE(d.logged(std::string("AR ") + kRule + " resolving. val " + kThree + " received"));
}

TEST_F(RouteddataCheck, DescribesTableInterfacesAndTunnels) {
  Described dev = describe_device_of(check());
  EXPECT_EQ(dev.first, "Management LAN");
  EXPECT_EQ(dev.second, "Ethernet");
  EXPECT_EQ(dev.third, "config.interfaces.lan");

  config.set("config.openvpn.tunnels.tunnel2.name", "office");
  set("routeddata.interface", "config.openvpn.tunnels.tunnel2");
  dev = describe_device_of(check());
  EXPECT_EQ(dev.first, "office");
  EXPECT_EQ(dev.second, "VPN Tunnel");
  EXPECT_EQ(dev.third, "config.openvpn.tunnels.tunnel2");

  set("routeddata.interface", "config.interfaces.lan2");
  dev = describe_device_of(check());
  EXPECT_EQ(dev.result, -1);
  EXPECT_FALSE(dev.first || dev.second || dev.third);
}

// The window tests on parsed lists: L, the window (W for the trigger test,
// R for the resolve test) and the verdict.
struct WindowCase {
  const char* readings;
  uint32_t limit;
  uint32_t window;
  bool triggers;
  bool resolves;
};

TEST(RoutedWindows, SumAndAgeBoundaries) {
  const WindowCase cases[] = {
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
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(std::string(c.readings) + " L " + std::to_string(c.limit) + " window " + std::to_string(c.window));
    std::vector<Reading> r;
    ASSERT_TRUE(routed_parse_readings(c.readings, &r));
    EXPECT_EQ(routed_triggers(r, c.limit, c.window), c.triggers);
    EXPECT_EQ(routed_resolves(r, c.limit, c.window), c.resolves);
  }
}

TEST(RoutedWindows, ReadingsParseWithLeadingIntegers) {
  std::vector<Reading> r;
  ASSERT_TRUE(routed_parse_readings(" 12abc:34xyz,\t:300 \n7", &r));
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].time, 12u);
  EXPECT_EQ(r[0].bytes, 34u);
  EXPECT_EQ(r[1].time, 0u);
  EXPECT_EQ(r[1].bytes, 300u);
  EXPECT_EQ(r[2].bytes, 0u);
  EXPECT_EQ(routed_parse_reading("-10:-1").time, 4294967286u);
  EXPECT_EQ(routed_parse_reading("-10:-1").bytes, 0u);
  EXPECT_EQ(routed_parse_reading("1:99999999999999999999").bytes, 4294967295u);
  EXPECT_FALSE(routed_parse_readings(",,", &r));
  EXPECT_TRUE(r.empty());
}

}  // namespace
