// The text a restart reads back: every field survives the round trip, and
// what is not a record is refused rather than half read.
#include <gtest/gtest.h>

#include "engine/restart_record.h"

namespace {

TEST(RestartRecord, EveryFieldSurvivesAndHostileTextsTravelEscaped) {
  RestartRule rule;
  rule.fingerprint = 0x00c0ffee12345678ULL;
  rule.refs.reserve(2);
  RestartReference& triggered = rule.refs.emplace_back();
  triggered.ref = 2;
  triggered.state = kArTriggered;
  triggered.since_ms = 1700000000123;
  triggered.statuses = {kActionQueued, kActionPending, kActionPending, kActionDropped, kActionPending};
  triggered.event = CheckEvent{"config.ports.port1.enviro.temp", 1700000000120, -3, "31.5; e=x, d=1@2\x1e\r\n%"};
  triggered.delayed = {{1, 1700000030123, "cut rack, power"}, {2, 1700000030123, "page"}};
  triggered.repeat_ms = 1700000300123;
  RestartReference& timeout = rule.refs.emplace_back();
  timeout.ref = 7;
  timeout.state = kArTimeout;
  timeout.since_ms = -5;
  timeout.statuses = std::vector<ActionStatus>(40, kActionQueued);
  timeout.timeout_end_ms = 1700000600000;
  rule.silences = {{0, 1700086400000, "night shift", "rack 4; fans, swapped"}, {7, 1700000001000, "ops", ""}};

  const std::string text = restart_rule_format(rule);
  EXPECT_EQ(std::string::npos, text.find_first_of("\r\n\x1e")) << text;
  RestartRule back;
  ASSERT_TRUE(restart_rule_parse(text, &back)) << text;
  EXPECT_EQ(text, restart_rule_format(back));
  EXPECT_EQ(rule.fingerprint, back.fingerprint);
  ASSERT_EQ(2u, back.refs.size());
  EXPECT_EQ(triggered.statuses, back.refs[0].statuses);
  EXPECT_EQ(triggered.event->value, back.refs[0].event->value);
  EXPECT_EQ(-3, back.refs[0].event->number);
  EXPECT_EQ("cut rack, power", back.refs[0].delayed[0].name);
  EXPECT_EQ(40u, back.refs[1].statuses.size());
  EXPECT_EQ(-5, back.refs[1].since_ms);
  ASSERT_EQ(2u, back.silences.size());
  EXPECT_EQ("rack 4; fans, swapped", back.silences[0].reason);
  EXPECT_EQ("", back.silences[1].reason);

  RestartRule none;
  none.fingerprint = 1;
  ASSERT_TRUE(restart_rule_parse(restart_rule_format(none), &back));
  EXPECT_TRUE(back.refs.empty());
}

TEST(RestartRecord, WhatIsNotARecordIsRefused) {
  const std::string fp = " 00000000000000ff";
  const std::string refused[] = {
      "", "-", "3 00000000000000ff",  // no record, another version
      "2 00000000000000ff", "2 00000000000000ff B00T 1 2", "2 00000000000000ff - 1",  // the file form's clocks
      "1 ff", "1 00000000000000fg", "1 00000000000000ff 0",  // fingerprints
      "1" + fp + ";",                      // an empty reference
  };
  RestartRule rule;
  for (const std::string& text : refused) EXPECT_FALSE(restart_rule_parse(text, &rule)) << text;
  const std::string bad_refs[] = {
      "0 1 0 p",          // reference 0
      "1 6 0 p",          // no such state
      "1 1 0",            // no statuses
      "1 1 0 p1",         // a run of one is written without a count
      "1 1 0 x",          // no such status
      "1 1 0 p99999",     // more statuses than a rule has
      "1 1 0 p y=1",      // no such field
      "1 1 0 p e=k,1,2",  // an update without its value
      "1 1 0 p e=k,1,2,v e=k,1,2,v",
      "1 1 0 p e=%4,1,2,v",  // a cut escape
      "1 1 0 p d=1,2",       // a due time without its action
      "1 1 0 p r=soon",
      "1 1 0 p  t=1",  // an empty field
      "1 1 -9223372036854775808 p",   // a time beyond any clock, which sums would overflow
      "1 1 0 p r=9007199254740992",
      "1 1 0 p c=1",    // a cycle only the file form holds
      "1 1 0 p x=2", "1 1 0 p k=1 k=1", "1 1 0 p o=1..2", "1 1 0 p o=9999", "1 1 0 p f=k,1,2",
      "s 0 1 who",      // a silence without its reason
      "s 0 1 who why;1 1 0 p",  // a reference after a silence
  };
  for (const std::string& ref : bad_refs) EXPECT_FALSE(restart_rule_parse("1" + fp + ";" + ref, &rule)) << ref;
  EXPECT_TRUE(restart_rule_parse("1" + fp + ";1 1 0 p3", &rule));
}

}  // namespace
