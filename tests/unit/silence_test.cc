// Silences: what they hold back, how they settle at their end, what follows them, and how they outlive reloads
// and restarts.
#include <gtest/gtest.h>

#include "support/engine_flow.h"

namespace {

// While silenced a reference is evaluated and changes state as usual, but each action that falls due is logged and
// held back; at the silence's end, to the millisecond, a reference still Triggered runs what was held (each delayed
// one at its time), and one that triggered and resolved inside the silence runs nothing.
TEST_F(EngineFlow, ASilenceHoldsActionsBackAndSettlesThemAtItsEnd) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}});
  actions("resolve_actions", {{"R", 0}});
  load();
  silence("60,0,maintenance");
  const std::string until = silence_until_text(d.ctx.engine, d.clock.monotonic_ms() + 60000);
  EXPECT_EQ((Strings{"status=Triggered", "curr_entry.status=31", kLine + "Triggered" + kEvent + "31"}), at(0, "31"));
  EXPECT_EQ(0u, ticked(30));  // B falls due inside the silence
  EXPECT_EQ((Strings{"status=Resolving", "curr_entry.status=29", kLine + "Resolving" + kEvent + "29",
                     "status=Normal", kLine + "Normal"}),
            at(0, "29"));
  at(0, "31");  // at 30 s, again: A is held, B falls due at 60 s
  for (const auto& [action, times] : {std::pair{"A", 2}, {"B", 1}, {"R", 1}}) {
    EXPECT_EQ(times, d.logged_at(kLogInfo, "Silenced action " + std::string(action) + " for AR door1: until " + until +
                                               ", by admin"));
  }
  d.clock.advance_ms(29999);
  EXPECT_EQ(0u, ticked(0));
  d.clock.advance_ms(1);
  EXPECT_EQ(2u, ticked(0));  // the held A, and B due as the silence ends
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of every reference of AR " + rule_path(1) + " ended: its time came"));
  at(0, "29");
  at(0, "31");
  EXPECT_EQ((Strings{"A", "B", "R", "A"}), g_offered);
  EXPECT_TRUE(d.ctx.engine.silences.empty());
}

// What a silence settles, by how the incident and the silence met.
TEST_F(EngineFlow, ASilenceSettlesByHowTheIncidentMetIt) {
  actions("trigger_actions", {{"A", 0}, {"B", 30}});
  actions("resolve_actions", {{"R", 0}});
  const struct {
    const char* name;
    std::vector<std::pair<int, const char*>> before, inside;  // seconds to wait, then a reading (null: a tick)
    Strings offered;
  } cases[] = {
      {"triggered before, resolved inside: the held resolve runs", {{0, "31"}}, {{10, "29"}}, {"A", "R"}},
      {"triggered before, B due inside, still Triggered: B runs", {{0, "31"}}, {{40, nullptr}}, {"A", "B"}},
      {"triggered and resolved inside: nothing runs", {}, {{0, "31"}, {10, "29"}}, {}},
      {"resolved inside, triggered again inside: the new trigger's actions, its delayed one too",
       {{0, "31"}}, {{0, "29"}, {0, "31"}}, {"A", "A", "B"}},
  };
  for (const auto& k : cases) {
    g_offered.clear();
    c.set(rule_path(1) + ".note", k.name);
    load();
    at(0, "20");
    g_offered.clear();
    for (const auto& [wait, reading] : k.before) at(wait, reading);
    silence("60,0");
    for (const auto& [wait, reading] : k.inside) at(wait, reading);
    d.clock.advance(60);
    d.tick();
    d.take_sent();
    EXPECT_EQ(k.offered, g_offered) << k.name;
    d.ctx.engine.silences.clear();
  }
}

// A reference of a check that only triggers returns to Normal, so what a silence held of it is settled as resolved
// inside the silence: nothing runs, and the first event after the silence acts. A level still Triggered runs what
// was held when the silence ends, and its repeats go on as usual.
TEST_F(EngineFlow, AfterASilenceTheNextEventOrRepeatActs) {
  c.set("config.autoresponse.total", 2).set(rule_path(1) + ".repeat_trigger", "on").set(rule_path(1) + ".repeat_timeout", 100);
  add_rule_sms(2);
  actions("trigger_actions", {{"A", 0}});
  load();
  silence("150,0");
  silence("150,0", 2);
  at(0, "31");
  EXPECT_EQ((Strings{"status=Triggered", "curr_entry.status=123:reboot", "log=AR: name=sms, index=2, ref=1, "
                     "state=Triggered, event=config.sms.incoming, value=123:reboot", "status=Normal",
                     "log=AR: name=sms, index=2, ref=1, state=Normal"}),
            sms("123:reboot"));
  EXPECT_EQ(0u, ticked(100));  // the first repeat, held
  EXPECT_EQ(1u, ticked(50));   // the silence ends: the held repeat runs
  EXPECT_EQ(2u, ticked(50));   // the next repeat, 100 s after the last
  sms("123:reboot");
  EXPECT_EQ((Strings{"A", "A", "S"}), g_offered);
}

// Silences belong to the rule's path: they outlive a reload that builds the rule again and a restart, even one on
// an edited rule, and end with the rule.
TEST_F(EngineFlow, ASilenceOutlivesReloadsAndRestartsAndEndsWithItsRule) {
  actions("trigger_actions", {{"A", 0}});
  load();
  silence("600,1,rack move");
  reload(c.set(rule_path(1) + ".note", "edited"));
  record_actions(*d.ctx.config);
  c.set(rule_path(1) + ".note", "edited again");
  d.clock.advance(100);
  restart();
  at(0, "31");
  EXPECT_EQ(Strings{}, g_offered);
  ASSERT_EQ(1u, d.ctx.engine.silences[rule_path(1)].size());
  const Silence& s = d.ctx.engine.silences[rule_path(1)][0];
  EXPECT_EQ((std::tuple<uint32_t, int64_t, std::string, std::string>(1, d.clock.monotonic_ms() + 500000, "admin",
                                                                     "rack move")),
            std::tie(s.ref, s.until_ms, s.origin, s.reason));
  reload(c.set("config.autoresponse.total", 0));
  EXPECT_TRUE(d.ctx.engine.silences.empty());
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of reference 1 of AR " + rule_path(1) + " ended: the rule was removed"));
}

}  // namespace
