// The command actions: the exact command line, environment and interface command a triggered rule gives.
#include <gtest/gtest.h>

#include "support/action_rules.h"

// The rule with a trigger action of type and settings under the action's type.
static ConfigBuilder action(const char* type, const std::vector<std::pair<std::string, std::string>>& settings) {
  ConfigBuilder config = sensor_rule(type).set("config.sdt.hosts.host2.address", "192.0.2.7");
  for (const auto& [key, value] : settings) config.set(kTrigger + "." + type + "." + key, value);
  return config;
}

static ConfigBuilder rpc(const char* ref, const char* outlet, const char* command) {
  return action("rpc", {{"rpc_ref", ref}, {"outlet", outlet}, {"action", command}});
}

// A dio action on both stages under central management at cms; with forwards, the NSCA port 5667
// is forwarded to this host as 15667 (the first forward of it to 127.0.0.1).
static ConfigBuilder cms_rule(const std::string& cms, bool forwards = false) {
  ConfigBuilder c = sensor_rule("dio", "dio").set("config.cms.enabled", "on").set(cms + ".node.name", "node7");
  const char* list[][3] = {{"22", "127.0.0.1", "2222"}, {"5667", "192.0.2.1", "35667"}, {"5667", "127.0.0.1", "15667"},
                           {"5667", "127.0.0.1", "25667"}};
  for (int i = 0; forwards && i < 4; ++i) {
    const std::string f = cms + ".node.forwards.forward" + std::to_string(i + 1);
    c.set(cms + ".node.forwards.total", 4).set(f + ".hostport", list[i][0]).set(f + ".host", list[i][1]);
    c.set(f + ".port", list[i][2]);
  }
  return c;
}

static std::string cms_text(const std::string& file, const char* port) {
  return "~/bin/run_check: run_check -c check_autoresponse_1_node7 -f ~/etc/config/" + file + " -p " + port +
         " [FORCE_STATUS=Triggered]; ~/bin/ioc: ioc -p '' -v ''; queued";
}

TEST(CommandActions, ExactCommandLinesAndInterfaceCommands) {
  const std::string wan = "config.interfaces.wan", long_ref = "config.interfaces." + std::string(150, 'x');
  const std::string long_node = "cms_central_management_node_name_longer_than_27";
  const std::pair<ConfigBuilder, std::string> cases[] = {
      {rpc("config.ports.port12", "1", "cycle"), "~/bin/pmpower: /bin/pmpower -l port12 -o 1 cycle; queued"},
      {rpc("config.sdt.hosts.host2", "4", "on"), "~/bin/pmpower: /bin/pmpower -r 192.0.2.7 -o 4 on; queued"},
      {rpc("config.rpc.device1", "2", ""), "~/bin/pmpower: /bin/pmpower -l port00 -o 2 ''; queued"},
      {action("custom", {{"script", "/x.sh"}, {"args.total", "257"}}), "failed"},  // 256 at most
      {sensor_rule("resolve"), "failed"},
      {action("conman", {{"ref", wan}, {"action", "stop"}}), "sent 1 " + wan + ".ar_ctl 2 down; done"},
      {action("conman", {{"ref", wan}, {"action", "Start"}}), "sent 1 " + wan + ".ar_ctl 2 down; done"},
      {action("conman", {{"ref", long_ref}, {"action", "start"}}), "sent 1 " + long_ref + ".ar_ctl 2 up; done"},
      {cms_rule("config.cms"), cms_text("node-checks.xml", "5667")},
      {cms_rule("config.cms." + long_node), cms_text("node-" + long_node + "-checks.xml", "5667")},
      {cms_rule("config.cms.cms1", true), cms_text("node-cms1-checks.xml", "15667")},
  };
  for (const auto& [config, expected] : cases) {
    TestDaemon d;
    EXPECT_EQ(outcome(d, config), expected);
  }
  TestDaemon d;  // resolving, central management reports Normal
  d.ctx.queue.concurrent_actions = 10;
  trigger(d, cms_rule("config.cms.cms1"));
  ASSERT_EQ(d.deliver(kSensorKey, "20"), 0);  // CMS then dio again
  EXPECT_EQ(d.spawner.starts.at(d.spawner.starts.size() - 2).envp, (Strings{"FORCE_STATUS=Normal"}));
}

