// The command actions, each checked by the exact command line and environment a triggered rule starts.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "actions/queue.h"
#include "config/archeck.h"
#include "core/log.h"
#include "support/action_rules.h"

using namespace action_rules;
using Strings = std::vector<std::string>;

namespace {

// The rule with a trigger action of type and settings under the action's path.
ConfigBuilder action_rule(const char* type, const std::vector<std::pair<std::string, std::string>>& settings) {
  ConfigBuilder config = sensor_rule(type).set("config.sdt.hosts.host2.address", "192.0.2.7");
  for (const auto& [key, value] : settings) config.set(kTrigger + "." + key, value);
  return config;
}

// A rule with a dio action on both stages under central management at cms_path;
// with forwards, the NSCA port 5667 is forwarded to this host as 15667.
ConfigBuilder cms_rule(const std::string& cms_path, bool forwards = false) {
  ConfigBuilder c = sensor_rule("dio", "dio").set("config.cms.enabled", "on").set(cms_path + ".node.name", "node7");
  const Strings list[] = {{"22", "127.0.0.1", "2222"}, {"5667", "192.0.2.1", "35667"},  // passed over
                          {"5667", "127.0.0.1", "15667"}, {"5667", "127.0.0.1", "25667"}};
  for (int i = 0; forwards && i < 4; ++i) {
    const std::string f = cms_path + ".node.forwards.forward" + std::to_string(i + 1);
    c.set(cms_path + ".node.forwards.total", 4).set(f + ".hostport", list[i][0]).set(f + ".host", list[i][1]);
    c.set(f + ".port", list[i][2]);
  }
  return c;
}

// What triggering config did as one text: each start's path, arguments and environment,
// each interface command sent, the first action's status; the daemon's directory is "~".
std::string outcome(const ConfigBuilder& config) {
  TestDaemon d;
  std::string text;
  for (const FakeSpawner::Start& s : trigger(d, config)) {
    text += s.path + ":";
    for (const std::string& a : s.argv) text += " " + (a.empty() ? "''" : a);
    for (const std::string& e : s.envp) text += " env " + e;
    text += "; ";
  }
  for (const SentMessage& m : d.take_sent())
    if (m.key.find("ar_ctl") != std::string::npos)
      text += "sent " + std::to_string(m.type) + " " + m.key + " " + std::to_string(m.number) + " " + m.value + "; ";
  const int32_t status = d.check(0).trigger_actions[0].status;
  text += status == kActionQueued ? "queued" : status == kActionDropped ? "dropped" : std::to_string(status);
  for (size_t at; (at = text.find(d.dir())) != std::string::npos;) text.replace(at, d.dir().size(), "~");
  return text;
}

std::string cms_text(const std::string& file, const char* port) {
  return "~/bin/run_check: run_check -c check_autoresponse_1_node7 -f ~/etc/config/" + file + " -p " + port +
         " env FORCE_STATUS=Triggered; ~/bin/ioc: ioc -p '' -v ''; queued";
}

TEST(CommandActions, ExactCommandLinesAndInterfaceCommands) {
  const std::string wan = "config.interfaces.wan", long_ref = "config.interfaces." + std::string(150, 'x');
  const std::string long_node = "cms_central_management_node_name_longer_than_27";
  const auto conman = [](const std::string& ref, const char* command) {
    return action_rule("conman", {{"conman.ref", ref}, {"conman.action", command}});
  };
  const std::pair<ConfigBuilder, std::string> cases[] = {
      {action_rule("rpc", {{"rpc.rpc_ref", "config.ports.port5"}, {"rpc.outlet", "3"}, {"rpc.action", "off"}}),
       "~/bin/pmpower: /bin/pmpower -l port05 -o 3 off; queued"},
      {action_rule("rpc", {{"rpc.rpc_ref", "config.ports.port12"}, {"rpc.outlet", "1"}, {"rpc.action", "cycle"}}),
       "~/bin/pmpower: /bin/pmpower -l port12 -o 1 cycle; queued"},
      {action_rule("rpc", {{"rpc.rpc_ref", "config.sdt.hosts.host2"}, {"rpc.outlet", "4"}, {"rpc.action", "on"}}),
       "~/bin/pmpower: /bin/pmpower -r 192.0.2.7 -o 4 on; queued"},
      {action_rule("rpc", {{"rpc.rpc_ref", "config.rpc.device1"}, {"rpc.outlet", "2"}}),
       "~/bin/pmpower: /bin/pmpower -l port00 -o 2 ''; queued"},
      {action_rule("dio", {{"dio.pin", "2"}, {"dio.value", "1"}}), "~/bin/ioc: ioc -p 2 -v 1; queued"},
      {action_rule("custom", {{"custom.script", "/etc/door.sh"}, {"custom.args.total", "3"},
                              {"custom.args.arg1", "$AR_NAME"}, {"custom.args.arg3", "v=$AR_VAL/$AR_TRIGGER_VAL"}}),
       "/etc/door.sh: /etc/door.sh door1 '' v=35/30; queued"},
      {action_rule("custom", {{"custom.script", "/etc/door.sh"}, {"custom.args.total", "257"}}), "dropped"},
      {sensor_rule("resolve"), "dropped"},
      {conman(wan, "start"), "sent 1 " + wan + ".ar_ctl 2 up; dropped"},
      {conman(wan, "stop"), "sent 1 " + wan + ".ar_ctl 2 down; dropped"},
      {conman(wan, "Start"), "sent 1 " + wan + ".ar_ctl 2 down; dropped"},
      {conman(long_ref, "start"), "sent 1 " + long_ref + ".ar_ctl 2 up; dropped"},  // not cut
      {cms_rule("config.cms.cms1"), cms_text("node-cms1-checks.xml", "5667")},
      {cms_rule("config.cms"), cms_text("node-checks.xml", "5667")},
      {cms_rule("config.cms." + long_node), cms_text("node-" + long_node + "-checks.xml", "5667")},
      {cms_rule("config.cms.cms1", true), cms_text("node-cms1-checks.xml", "15667")},
  };
  for (const auto& [config, expected] : cases) EXPECT_EQ(outcome(config), expected);
  TestDaemon d;  // 256 arguments are still taken
  EXPECT_EQ(trigger(d, action_rule("custom", {{"custom.args.total", "256"}})).at(0).argv.size(), 257u);
}

TEST(CommandActions, CmsReportsNormalWhenResolving) {
  TestDaemon d;
  d.ctx.concurrent_actions = 10;
  trigger(d, cms_rule("config.cms.cms1"));
  ASSERT_EQ(d.deliver(kSensorKey, "20"), 0);  // resolves: CMS then dio again
  EXPECT_EQ(d.spawner.starts.at(d.spawner.starts.size() - 2).envp, (Strings{"FORCE_STATUS=Normal"}));
}

TEST(CommandActions, FullQueueFailsCmsAndDio) {
  TestDaemon d;
  d.write_config(cms_rule("config.cms.cms1"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);
  for (int i = 0; i <= kMaxQueuedActions; ++i)  // two running and 99 waiting
    ASSERT_EQ(queue_action(&check, &check.trigger_actions[0], "/bin/true", {"true"}, {}, 0), 0);
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  EXPECT_TRUE(logged_at(d, kLogFatal, "Could not execute CMS action for: " + kRule));
  EXPECT_TRUE(logged_at(d, kLogFatal, "Could not execute action: act"));
  EXPECT_TRUE(engine_logged(d, "Action act for AR door1, queuing failed"));
  EXPECT_EQ(d.ctx.queued_actions, kMaxQueuedActions + 1);
  EXPECT_EQ(check.trigger_actions[1].status, kActionDropped);
}

}  // namespace
