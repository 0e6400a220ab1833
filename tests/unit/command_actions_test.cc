// The command actions: power outlets, digital outputs, custom scripts,
// network interfaces, the resolve placeholder and central management,
// each driven through a triggered rule and checked by the exact command
// line and environment it starts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/action_ops.h"
#include "actions/queue.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "support/action_rules.h"
#include "support/test_daemon.h"

using namespace action_rules;
using Strings = std::vector<std::string>;

namespace {

class CommandActions : public ::testing::Test {
 protected:
  // Loads config, triggers the rule and returns what was started.
  const std::vector<FakeSpawner::Start>& trigger(const ConfigBuilder& config) {
    d.write_config(config);
    EXPECT_EQ(d.load(), 0);
    d.take_sent();
    EXPECT_EQ(d.deliver(kSensorKey, kHot), 0);
    return d.spawner.starts;
  }

  // The only start of a trigger; fails the test when there is not one.
  FakeSpawner::Start only_start(const ConfigBuilder& config) {
    const auto& starts = trigger(config);
    EXPECT_EQ(starts.size(), 1u);
    return starts.empty() ? FakeSpawner::Start{} : starts.front();
  }

  TestDaemon d;
};

// --- rpc -------------------------------------------------------------------

ConfigBuilder rpc_rule(const std::string& ref, const std::string& outlet, const std::string& action) {
  return sensor_rule("rpc")
      .set(kTrigger + ".rpc.rpc_ref", ref)
      .set(kTrigger + ".rpc.outlet", outlet)
      .set(kTrigger + ".rpc.action", action);
}

TEST_F(CommandActions, RpcOnASerialPortPadsThePortNumber) {
  const auto start = only_start(rpc_rule("config.ports.port5", "3", "off"));
  EXPECT_EQ(start.path, d.paths.pmpower);
  EXPECT_EQ(start.argv, (Strings{"/bin/pmpower", "-l", "port05", "-o", "3", "off"}));
  EXPECT_FALSE(start.has_envp);
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionQueued);
}

TEST_F(CommandActions, RpcOnATwoDigitPort) {
  const auto start = only_start(rpc_rule("config.ports.port12", "1", "cycle"));
  EXPECT_EQ(start.argv, (Strings{"/bin/pmpower", "-l", "port12", "-o", "1", "cycle"}));
}

TEST_F(CommandActions, RpcOnANetworkedDeviceUsesItsAddress) {
  ConfigBuilder config = rpc_rule("config.sdt.hosts.host2", "4", "on");
  config.set("config.sdt.hosts.host2.address", "192.0.2.7");
  const auto start = only_start(config);
  EXPECT_EQ(start.argv, (Strings{"/bin/pmpower", "-r", "192.0.2.7", "-o", "4", "on"}));
}

TEST_F(CommandActions, RpcWithoutAnActionStillQueues) {
  const auto start = only_start(rpc_rule("config.ports.port1", "2", ""));
  EXPECT_EQ(start.argv, (Strings{"/bin/pmpower", "-l", "port01", "-o", "2", ""}));
}

TEST_F(CommandActions, RpcWithAnotherReferenceUsesPortZero) {
  const auto start = only_start(rpc_rule("config.rpc.device1", "2", "on"));
  EXPECT_EQ(start.argv, (Strings{"/bin/pmpower", "-l", "port00", "-o", "2", "on"}));
}

// --- dio -------------------------------------------------------------------

TEST_F(CommandActions, DioSetsThePin) {
  const auto start =
      only_start(sensor_rule("dio").set(kTrigger + ".dio.pin", "2").set(kTrigger + ".dio.value", "1"));
  EXPECT_EQ(start.path, d.paths.ioc);
  EXPECT_EQ(start.argv, (Strings{"ioc", "-p", "2", "-v", "1"}));
  EXPECT_FALSE(start.has_envp);
}

TEST_F(CommandActions, DioFailsWhenTheQueueIsFull) {
  d.write_config(sensor_rule("dio").set(kTrigger + ".dio.pin", "2"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);
  // 101 entries: two running and 99 waiting under the default limit.
  for (int i = 0; i < 101; ++i) {
    ASSERT_EQ(queue_action(&check, &check.trigger_actions[0], "/bin/true", {"true"}, {}, 0), 0);
  }
  d.take_sent();
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  EXPECT_TRUE(logged_at(d, 0, "Could not execute action: act"));
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_EQ(d.ctx.queued_actions, 101);
  EXPECT_EQ(check.trigger_actions[0].status, kActionDropped);
}

// --- custom ----------------------------------------------------------------

ConfigBuilder custom_rule(long total) {
  return sensor_rule("custom").set(kTrigger + ".custom.script", "/etc/scripts/door.sh").set(
      kTrigger + ".custom.args.total", total);
}

TEST_F(CommandActions, CustomSubstitutesItsArguments) {
  ConfigBuilder config = custom_rule(3);
  config.set(kTrigger + ".custom.args.arg1", "$AR_NAME")
      .set(kTrigger + ".custom.args.arg3", "value=$AR_VAL of $AR_TRIGGER_VAL");
  const auto start = only_start(config);
  EXPECT_EQ(start.path, "/etc/scripts/door.sh");
  EXPECT_EQ(start.argv, (Strings{"/etc/scripts/door.sh", "door1", "", "value=35 of 30"}));
  EXPECT_FALSE(start.has_envp);
}

TEST_F(CommandActions, CustomWithoutArgumentsRunsTheScriptAlone) {
  EXPECT_EQ(only_start(custom_rule(0)).argv, (Strings{"/etc/scripts/door.sh"}));
}

TEST_F(CommandActions, CustomTakesUpTo256Arguments) {
  const auto start = only_start(custom_rule(256).set(kTrigger + ".custom.args.arg256", "last"));
  ASSERT_EQ(start.argv.size(), 257u);
  EXPECT_EQ(start.argv.back(), "last");
}

TEST_F(CommandActions, CustomWithTooManyArgumentsFails) {
  EXPECT_TRUE(trigger(custom_rule(257)).empty());
  EXPECT_TRUE(logged_at(d, 0, "Could not execute action: act"));
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_EQ(d.ctx.queued_actions, 0);
}

TEST_F(CommandActions, CustomKeepsAnArgumentWhoseSubstitutionFails) {
  d.write_config(custom_rule(1).set(kTrigger + ".custom.args.arg1", "$AR_NAME=$AR_VAL"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);  // Normal: no current value to substitute
  ActionEntry& entry = check.trigger_actions[0];
  EXPECT_EQ(queue_custom_action(&check, &entry), 0);
  EXPECT_EQ(entry.status, kActionQueued);
  ASSERT_EQ(d.spawner.starts.size(), 1u);
  EXPECT_EQ(d.spawner.starts[0].argv, (Strings{"/etc/scripts/door.sh", "$AR_NAME=$AR_VAL"}));
  EXPECT_TRUE(logged_at(d, 400, "Text substitution failed"));
}

// --- conman ----------------------------------------------------------------

class ConmanAction : public CommandActions {
 protected:
  // Runs the action with "action" set to command; returns the commands sent.
  std::vector<SentMessage> run(const std::string& command) {
    d.write_config(sensor_rule("conman")
                       .set(kTrigger + ".conman.ref", "config.interfaces.wan")
                       .set(kTrigger + ".conman.action", command));
    if (d.ctx.config_db != nullptr) unload_config(&d.ctx);
    EXPECT_EQ(d.load(), 0);
    d.take_sent();
    ArCheck& check = d.check(0);
    ActionEntry& entry = check.trigger_actions[0];
    entry.status = kActionPending;
    EXPECT_EQ(queue_conman_action(&check, &entry), 0);
    EXPECT_EQ(entry.status, kActionDropped);
    EXPECT_TRUE(d.spawner.starts.empty());
    EXPECT_TRUE(d.ctx.action_queue.empty());
    EXPECT_TRUE(d.logged("Running Interface Action for " + kRule));
    std::vector<SentMessage> commands;
    for (const SentMessage& m : d.take_sent()) {
      if (m.key.find("ar_ctl") != std::string::npos) commands.push_back(m);
    }
    return commands;
  }
};

TEST_F(ConmanAction, StartBringsTheInterfaceUp) {
  const auto sent = run("start");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].type, 1);
  EXPECT_EQ(sent[0].key, "config.interfaces.wan.ar_ctl");
  EXPECT_EQ(sent[0].number, 2);
  EXPECT_EQ(sent[0].value, "up");
}

TEST_F(ConmanAction, AnythingElseBringsItDown) {
  for (const char* command : {"stop", "", "Start"}) {
    const auto sent = run(command);
    ASSERT_EQ(sent.size(), 1u) << command;
    EXPECT_EQ(sent[0].value, "down") << command;
  }
}

TEST_F(ConmanAction, LongReferencesAreNotCut) {
  const std::string ref = "config.interfaces." + std::string(150, 'x');
  d.write_config(sensor_rule("conman").set(kTrigger + ".conman.ref", ref).set(kTrigger + ".conman.action", "start"));
  ASSERT_EQ(d.load(), 0);
  d.take_sent();
  ASSERT_EQ(d.deliver(kSensorKey, kHot), 0);
  bool found = false;
  for (const SentMessage& m : d.take_sent()) found = found || m.key == ref + ".ar_ctl";
  EXPECT_TRUE(found);
}

// --- resolve ---------------------------------------------------------------

TEST_F(CommandActions, ResolvePlaceholderAlwaysFails) {
  EXPECT_TRUE(trigger(sensor_rule("resolve")).empty());
  EXPECT_TRUE(contains(engine_log(d), "Action act for AR door1, queuing failed"));
  EXPECT_EQ(d.check(0).trigger_actions[0].status, kActionDropped);
}

// --- central management ----------------------------------------------------

ConfigBuilder cms_rule(const std::string& cms_path) {
  ConfigBuilder config = sensor_rule("dio", "dio");
  config.set("config.cms.enabled", "on").set(cms_path + ".node.name", "node7");
  return config;
}

Strings run_check_argv(const TestDaemon& d, const std::string& file, const std::string& port) {
  return {"run_check", "-c", "check_autoresponse_1_node7", "-f", d.paths.cms_checks_dir + file, "-p", port};
}

TEST_F(CommandActions, CmsNamesTheNodeChecksFile) {
  const auto& starts = trigger(cms_rule("config.cms.cms1"));
  ASSERT_EQ(starts.size(), 2u);  // the CMS action comes first, then dio
  EXPECT_EQ(starts[0].path, d.paths.run_check);
  EXPECT_EQ(starts[0].argv, run_check_argv(d, "node-cms1-checks.xml", "5667"));
  EXPECT_EQ(starts[0].envp, (Strings{"FORCE_STATUS=Triggered"}));
  EXPECT_TRUE(d.logged("Queued CMS action for " + kRule + ", check_autoresponse_1_node7, config.cms.cms1"));
}

TEST_F(CommandActions, CmsWithoutANamedNodeUsesTheDefaultFile) {
  const auto& starts = trigger(cms_rule("config.cms"));
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].argv, run_check_argv(d, "node-checks.xml", "5667"));
}

TEST_F(CommandActions, CmsUsesTheWholeNodeName) {
  const std::string name = "cms_central_management_node_name_longer_than_27";
  const auto& starts = trigger(cms_rule("config.cms." + name));
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].argv, run_check_argv(d, "node-" + name + "-checks.xml", "5667"));
}

TEST_F(CommandActions, CmsTakesThePortOfTheLocalNscaForward) {
  const std::string node = "config.cms.cms1.node.forwards";
  ConfigBuilder config = cms_rule("config.cms.cms1");
  config.set(node + ".total", 3)
      .set(node + ".forward1.hostport", "22")
      .set(node + ".forward1.host", "127.0.0.1")
      .set(node + ".forward1.port", "2222")
      .set(node + ".forward2.hostport", "5667")
      .set(node + ".forward2.host", "127.0.0.1")
      .set(node + ".forward2.port", "15667")
      .set(node + ".forward3.hostport", "5667")
      .set(node + ".forward3.host", "127.0.0.1")
      .set(node + ".forward3.port", "25667");
  const auto& starts = trigger(config);
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts[0].argv, run_check_argv(d, "node-cms1-checks.xml", "15667"));
}

TEST_F(CommandActions, CmsIgnoresForwardsToOtherHosts) {
  const std::string node = "config.cms.cms1.node.forwards";
  ConfigBuilder config = cms_rule("config.cms.cms1");
  config.set(node + ".total", 1)
      .set(node + ".forward1.hostport", "5667")
      .set(node + ".forward1.host", "192.0.2.1")
      .set(node + ".forward1.port", "15667");
  const auto& starts = trigger(config);
  ASSERT_FALSE(starts.empty());
  EXPECT_EQ(starts[0].argv, run_check_argv(d, "node-cms1-checks.xml", "5667"));
}

TEST_F(CommandActions, CmsReportsNormalWhenResolving) {
  d.ctx.concurrent_actions = 10;
  trigger(cms_rule("config.cms.cms1"));
  ASSERT_EQ(d.deliver(kSensorKey, kCool), 0);
  const auto& starts = d.spawner.starts;
  ASSERT_EQ(starts.size(), 4u);  // CMS and dio on trigger, then on resolve
  EXPECT_EQ(starts[0].envp, (Strings{"FORCE_STATUS=Triggered"}));
  EXPECT_EQ(starts[2].path, d.paths.run_check);
  EXPECT_EQ(starts[2].envp, (Strings{"FORCE_STATUS=Normal"}));
}

TEST_F(CommandActions, CmsRefusedByTheQueueFails) {
  d.write_config(cms_rule("config.cms.cms1"));
  ASSERT_EQ(d.load(), 0);
  ArCheck& check = d.check(0);
  d.ctx.queued_actions = 101;  // as if the queue were full
  EXPECT_EQ(queue_cms_action(&check, &check.trigger_actions[0]), -1);
  EXPECT_TRUE(logged_at(d, 0, "Could not execute CMS action for: " + kRule));
  d.ctx.queued_actions = 0;
}

}  // namespace
