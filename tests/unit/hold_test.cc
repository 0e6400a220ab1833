// Rules that hold other rules back: while the uplink is down the hosts behind it queue nothing, and what they held
// is settled as a silence settles it once the uplink is back.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "daemon/reload.h"
#include "config/loader.h"
#include "engine/hold.h"
#include "support/rules.h"

namespace {

Strings g_runs;  // "script arg" of each start

class Hold : public ::testing::Test {
 public:
  void SetUp() override {
    g_runs.clear();
    c = enviro_rules(3);
    c.set(rule_path(1) + ".name", "uplink").set(rule_path(2) + ".name", "host-a").set(rule_path(3) + ".name", "spare");
    add_script(c, 2, "trigger_actions", 1, "page", "/bin/page", "$AR_VAL");
    add_script(c, 2, "resolve_actions", 1, "back", "/bin/back", "$AR_VAL");
    c.set(rule_path(2) + ".hold_while.total", 1).set(rule_path(2) + ".hold_while.rule1", "uplink");
  }
  // A process of the daemon on c, with what the last one kept.
  void start() {
    MemoryRecords kept;
    FakeClock clock;
    if (d != nullptr) kept = d->records, clock = d->clock;
    d.reset();
    d = std::make_unique<TestDaemon>();
    d->records = kept;
    d->clock = clock;
    d->spawner.on_spawn = [](const FakeSpawner::Start& s) { g_runs.push_back(s.argv[0] + " " + s.argv[1]); };
    d->write_config(c);
    ASSERT_EQ(0, open_config(&d->ctx));
    start_config(&d->ctx);
    d->take_sent();
  }
  void push(int port, const char* value) { EXPECT_EQ(0, d->deliver(enviro_key(port), value)); }
  ConfigBuilder c;
  std::unique_ptr<TestDaemon> d;
};

// What a hold settles, by how the host's incident and the uplink's met: the same three ways as a silence's end.
TEST_F(Hold, AHoldHoldsBackWhileItsRuleIsTriggeredAndSettlesWhenItIsNot) {
  start();
  const struct {
    const char* name;
    std::function<void(Hold&)> story;
    Strings runs;
  } cases[] = {
      {"the host down while the uplink is: paged once the uplink is back",
       [](Hold& t) { t.push(1, "35"), t.push(2, "36"), t.push(1, "20"); }, {"/bin/page 36"}},
      {"the host down and back while the uplink is down: nothing",
       [](Hold& t) { t.push(1, "35"), t.push(2, "36"), t.push(2, "20"), t.push(1, "20"); }, {}},
      {"the host down first, back while the uplink is down: its resolve once the uplink is back",
       [](Hold& t) { t.push(2, "36"), t.push(1, "35"), t.push(2, "21"), t.push(1, "20"); },
       {"/bin/page 36", "/bin/back 21"}},
  };
  for (const auto& k : cases) {
    g_runs.clear();
    k.story(*this);
    EXPECT_EQ(k.runs, g_runs) << k.name;
    push(2, "20");
    push(1, "20");
    for (pid_t pid = 1000; pid < 1010; ++pid) d->child_exits(pid, 0);
  }
  EXPECT_TRUE(d->logged("Held action page for AR host-a: while uplink is Triggered"));
  EXPECT_TRUE(d->logged("Held action back for AR host-a: while uplink is Triggered"));
}

// A hold and a silence on one reference: its actions run only once neither holds them; a restart keeps what is
// held, and an edit that takes the hold away settles it at once.
TEST_F(Hold, ActionsRunOnlyWhenNeitherHoldNorSilenceHoldsThemAcrossRestartsAndEdits) {
  c.set("config.autoresponse.concurrent_actions", 10);  // no program ends here: each keeps its slot
  start();
  push(1, "35");
  EXPECT_EQ(0, d->deliver("config.autoresponse.command", rule_path(2) + ",admin,silence,60,0"));
  push(2, "36");
  push(1, "20");  // the uplink is back, the silence still holds
  EXPECT_EQ(Strings{}, g_runs);
  d->clock.advance(61);
  d->tick();
  EXPECT_EQ(Strings{"/bin/page 36"}, g_runs);
  push(2, "20");
  g_runs.clear();

  push(1, "35");
  push(2, "37");
  start();  // what the hold held outlives the process
  EXPECT_EQ(Strings{}, g_runs);
  push(1, "20");
  EXPECT_EQ(Strings{"/bin/page 37"}, g_runs);
  push(2, "20");
  g_runs.clear();

  push(1, "35");
  push(2, "38");
  c.set(rule_path(2) + ".hold_while.total", 0);  // the hold taken away while it holds
  d->write_config(c);
  reload_config(SIGHUP, 0, &d->ctx);
  EXPECT_EQ(Strings{"/bin/page 38"}, g_runs);
}

// What a hold names must be one other rule, by its name, and no cycle: the loader refuses anything else with a line
// and a finding at the name's path, and loads the rule without that hold.
TEST_F(Hold, ANameThatHoldsNothingIsRefusedWithItsReason) {
  c.set(rule_path(3) + ".name", "twin");
  c.set("config.autoresponse.total", 4);
  add_enviro_rule(c, 4, "twin");
  const std::string h1 = rule_path(1) + ".hold_while.", h2 = rule_path(2) + ".hold_while.";
  c.set(h2 + "total", 4).set(h2 + "rule1", "nosuch").set(h2 + "rule2", "twin").set(h2 + "rule3", "host-a");
  c.set(h2 + "rule4", "uplink");
  c.set(h1 + "total", 1).set(h1 + "rule1", "host-a");  // host-a's last name then closes a cycle
  start();
  const std::unique_ptr<LoadedConfig> loaded = config_load(xmldb_open(nullptr));
  const struct { std::string path, why; } refused[] = {
      {h2 + "rule1", "Hold of AR host-a while nosuch refused: no rule is named so"},
      {h2 + "rule2", "Hold of AR host-a while twin refused: 2 rules are named so; name one only once"},
      {h2 + "rule3", "Hold of AR host-a while host-a refused: a rule cannot hold itself"},
      {h2 + "rule4", "Hold of AR host-a while uplink refused: it closes a cycle of holds: host-a -> uplink -> host-a"},
  };
  size_t found = 0;
  for (const LoadFinding& f : loaded->findings) {
    if (f.kind != LoadFindingKind::kHoldRefused) continue;
    ASSERT_LT(found, std::size(refused));
    EXPECT_EQ(refused[found].path, f.path);
    EXPECT_EQ(refused[found].why + "; it is loaded without it", f.text);
    EXPECT_TRUE(d->logged(f.text));
    ++found;
  }
  EXPECT_EQ(std::size(refused), found);
  EXPECT_EQ((std::vector<uint32_t>{2}), loaded->rules[0].holds());  // the first of the cycle's holds stays
  EXPECT_TRUE(loaded->rules[1].holds().empty());
}

}  // namespace
