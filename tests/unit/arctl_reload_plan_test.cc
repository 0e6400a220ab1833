// The plan of arctl reload: the new file's rules against what the daemon shows it runs.
#include <gtest/gtest.h>

#include <sstream>

#include "arctl/reload_plan.h"
#include "support/e2e.h"
#include "support/zone_guard.h"

namespace {

// Rule 1, modems: the carrier of ports 1 and 3, a reference each; rule 2, rack: a sensor. Then each
// "key=value" of edits.
std::string config_file(const e2e::TempDir& dir, const std::string& name, const std::string& edits) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  e2e::add_rule(c, 1, "modems", "serial_signal",
                "serial.signal.signal=dcd;serial.signal.trigger_val=0;serial.signal.dev_refs.total=2;"
                "serial.signal.dev_refs.dev_ref1=config.ports.port1;serial.signal.dev_refs.dev_ref2=config.ports.port3");
  add_script(c, 1, "trigger_actions", 1, "text", "/bin/true", "", 60);
  add_enviro_rule(c, 2, "rack");
  if (!edits.empty()) e2e::set_all(c, "", edits);
  const std::string path = dir.path() + "/" + name;
  e2e::write_file(path, c.xml());
  return path;
}

// What the daemon shows after loading config: its list, and each rule's record with every reference in state,
// those of rule 1 with their delayed action waiting.
void shown(const OfflineConfig& config, ArCheckState state, DaemonView* view, std::map<uint32_t, RestartRule>* records) {
  for (const OfflineRule& rule : config.rules()) {
    LoadedRule& loaded = view->loaded.emplace_back();
    loaded.number = static_cast<uint32_t>(rule.index);
    loaded.check_type = rule.kind;
    loaded.name = rule.name;
    RestartRule& record = (*records)[loaded.number];
    record.fingerprint = rule.restart_fingerprint;
    for (const OfflineReference& ref : rule.references) {
      loaded.references.push_back(ref.number);
      RestartReference& kept = record.refs.emplace_back();
      kept.ref = ref.number;
      kept.state = state;
      kept.key_hash = key_hash(ref.key);
      if (rule.index == 1) kept.delayed.push_back({0, 1800000000000, "text"});
    }
  }
}

TEST(ArctlReloadPlan, EachRuleIsKeptCarriedStartedAfreshAddedOrRemovedWithWhatItLeavesUndone) {
  const ZoneGuard zone("UTC0");
  e2e::TempDir dir;
  const OfflineConfig running(config_file(dir, "running.xml", ""));
  ASSERT_TRUE(running.ok());
  const std::string modems = rule_path(1) + ".serial.signal.dev_refs.", rack = rule_path(2) + ".";
  const std::string drops = "plan: drops the delayed action 'text' of rule 1 (modems) reference 2, due at "
                            "2027-01-15 08:00:00\n";
  const std::string carried = "plan: rule 1 (modems) carried: its references keep their states under the new settings";
  const struct { const char* edits; ArCheckState state; bool rack_shown; std::string plan; std::string undone; } cases[] = {
      {"", kArTriggered, true, "plan: 2 rules unchanged\n", ""},
      // A Normal reference whose key changes loses only its delayed action.
      {"config.autoresponse.autoresponse1.serial.signal.dev_refs.dev_ref2=config.ports.port5", kArNormal, true,
       "plan: 1 rule unchanged\n" + carried + ", but reference 2's key changed\n" + drops, ""},
      {"config.autoresponse.autoresponse1.serial.signal.dev_refs.total=1", kArResolving, true,
       "plan: 1 rule unchanged\n" + carried + ", but reference 2 is removed\n" + drops +
           "plan: leaves rule 1 (modems) reference 2 Resolving undone (it is removed): its resolve actions will not run\n",
       "rule 1 (modems) reference 2 Resolving"},
      {"config.autoresponse.autoresponse1.serial.signal.dev_refs.total=3;"
       "config.autoresponse.autoresponse1.serial.signal.dev_refs.dev_ref3=config.ports.port7;"
       "config.autoresponse.autoresponse1.trigger_actions.action1.delay_time=90",
       kArTriggered, true, "plan: 1 rule unchanged\n" + carried + ", but reference 3 is added\n", ""},
      {"config.autoresponse.autoresponse2.check_type=ups_status;"
       "config.autoresponse.autoresponse2.ups.state.dev_ref=config.ups.ups1;"
       "config.autoresponse.autoresponse2.ups.state.trigger_cond=onbatt",
       kArTriggered, true,
       "plan: 1 rule unchanged\nplan: rule 2 (rack) started afresh: its check kind changed (environmental to "
       "ups_status)\nplan: leaves rule 2 (rack) reference 1 Triggered undone (its check kind changed): its resolve "
       "actions will not run\n",
       "rule 2 (rack) reference 1 Triggered"},
      // A rule the daemon shows no record of cannot be told; one it does not run is added.
      {"config.autoresponse.total=3;config.autoresponse.autoresponse3.name=spare;"
       "config.autoresponse.autoresponse3.check_type=sms;config.autoresponse.autoresponse2.enviro.trigger_val=40",
       kArTriggered, false,
       "plan: 1 rule unchanged\nplan: rule 2 (rack): the daemon shows no record of it, so whether it is kept cannot "
       "be told\nplan: rule 3 (spare) added\n",
       ""},
      {"config.autoresponse.total=1", kArTriggered, true,
       "plan: 1 rule unchanged\nplan: rule 2 (rack) removed\nplan: leaves rule 2 (rack) reference 1 Triggered undone "
       "(its rule is removed): its resolve actions will not run\n",
       "rule 2 (rack) reference 1 Triggered"},
  };
  for (const auto& k : cases) {
    DaemonView view;
    std::map<uint32_t, RestartRule> records;
    shown(running, k.state, &view, &records);
    if (!k.rack_shown) records.erase(2);
    const OfflineConfig edited(config_file(dir, "edited.xml", k.edits));
    ASSERT_TRUE(edited.ok()) << k.edits;
    const ReloadPlan plan = plan_reload(edited, view, records);
    std::ostringstream out;
    print_plan(out, plan);
    EXPECT_EQ(out.str(), k.plan) << k.edits;
    EXPECT_EQ(undone_list(plan), k.undone) << k.edits;
  }
}

}  // namespace
