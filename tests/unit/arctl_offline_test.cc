// The daemon's loader run offline for arctl: what it made of each rule and reference, and what it found.
#include <gtest/gtest.h>

#include <tuple>

#include "arctl/offline.h"
#include "base/log.h"
#include "checks/audit.h"
#include "support/e2e.h"

namespace {

TEST(ArctlOffline, EachRuleAndReferenceIsWhatTheLoaderMadeOfIt) {
  e2e::TempDir dir;
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3).set("config.ports.port1.label", "one").set("config.ports.port3.label", "three");
  // Three ports, the second missing: references 1 and 3 are made.
  e2e::add_rule(c, 1, "modems", "serial_signal",
                "serial.signal.signal=dcd;serial.signal.dev_refs.total=3;serial.signal.dev_refs.dev_ref1=config.ports.port1;"
                "serial.signal.dev_refs.dev_ref3=config.ports.port3;trigger_actions.total=1;resolve_actions.total=1");
  add_action(c, 1, "trigger_actions", 1, "text", "sms");
  add_action(c, 1, "resolve_actions", 1, "mail", "email");
  // Rejected for its action's type.
  e2e::add_rule(c, 2, "shout", "cli_login", "cli_login.trigger_login=on;trigger_actions.total=1");
  add_action(c, 2, "trigger_actions", 1, "text", "SMS");
  // Made, without a reference of its own: the rule is its device.
  e2e::add_rule(c, 3, "script", "custom", "");
  e2e::write_file(dir.path() + "/config.xml", c.xml());

  const OfflineConfig config(dir.path() + "/config.xml");
  ASSERT_TRUE(config.ok());
  ASSERT_EQ(config.rules().size(), 3u);
  // "loaded|actions|device:subscribed,..." of each rule.
  std::vector<std::string> made;
  for (const OfflineRule& rule : config.rules()) {
    std::string m = std::to_string(rule.loaded) + "|" + std::to_string(rule.actions) + "|";
    for (const auto& ref : rule.references) {
      m += std::to_string(ref.number) + ref.device + ":" + std::to_string(ref.subscribed) + ",";
    }
    made.push_back(m);
  }
  EXPECT_EQ(made, (std::vector<std::string>{"1|2|1config.ports.port1:1,2:0,3config.ports.port3:1,", "0|0|",
                                            "1|0|1:1,"}));
  using Found = std::tuple<LoadFindingKind, uint32_t, uint32_t, std::string, std::string>;
  const auto found = [](const OfflineRule& rule) {
    std::vector<Found> all;
    for (const LoadFinding& f : rule.findings) all.emplace_back(f.kind, f.reference, f.action, f.path, f.text);
    return all;
  };
  const OfflineRule& modems = config.rules()[0];
  const std::string signal = rule_path(1) + ".serial.signal";
  EXPECT_EQ(found(modems),
            (std::vector<Found>{
                {LoadFindingKind::kCheckSettings, 2, 0, signal, "Invalid serial port or signal for AR: modems"},
                {LoadFindingKind::kNoSubscription, 2, 0, signal, "No subscription for rule: " + rule_path(1) + " - 2"},
                {LoadFindingKind::kReferenceNotMade, 2, 0, signal + ".dev_refs.total",
                 "Could not create Autoresponse state instance " + signal + ".dev_refs.total"}}));
  const std::string actions = rule_path(2) + ".trigger_actions";
  EXPECT_EQ(found(config.rules()[1]),
            (std::vector<Found>{
                {LoadFindingKind::kUnknownActionType, 0, 1, actions + ".action1.action_type", "Unknown action SMS"},
                {LoadFindingKind::kActionListFailed, 0, 1, actions, "Error creating action list for ar"},
                {LoadFindingKind::kRuleRejected, 0, 0, rule_path(2), "Could not load ar " + rule_path(2)}}));
  EXPECT_TRUE(config.findings().empty());

  // The module audits every reference the total counts, the missing one
  // too; the missing entry is an error of the list, which each looks at.
  AuditReport report;
  EXPECT_EQ(config.audit_references(modems, &report), (std::vector<uint32_t>{1, 2, 3}));
  ASSERT_EQ(report.findings().size(), 1u);
  EXPECT_EQ(report.findings()[0].path, rule_path(1) + ".serial.signal.dev_refs.total");
}

}  // namespace
