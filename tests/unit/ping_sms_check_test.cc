// The ping and SMS command checks: decisions per state with their exact
// pushes, the SMS value's parsing, sender lists and pattern search, and
// malformed messages or bad patterns that are logged and discarded.
#include <gtest/gtest.h>

#include <string>

#include "checks/sms_command.h"
#include "core/log.h"
#include "support/check_probe.h"

namespace {

const std::string kSmsKey = "config.sms.incoming";

using PingSmsCheck = CheckTest;

TEST_F(PingSmsCheck, PingResultsTriggerAndZeroOrANonNumberResolves) {
  probe_rule(c, 1, "net_ping");
  c.set(probe_rule_path(1) + ".net.ping.address", "192.0.2.1");
  load(1);
  const std::string status = probe_rule_path(1) + ".check.status";
  EXPECT_EQ(Strings{status}, subs);
  walk({1}, status, {{"0", '-'}, {"3", 'T'}, {"3", 'r'}, {"0", 'N'}, {"1", 'T'}, {"timeout", 'N'}});
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + probe_rule_path(1) + " triggered. val 3 vs trigger 0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + probe_rule_path(1) + " resolving. val 0 vs 0"));
  EXPECT_EQ("0|192.0.2.1|ICMP Ping|" + probe_rule_path(1), device_of(d.check(0)));
}

TEST(SmsText, SplitsSenderFromMessageOrLeavesItUntouched) {
  const std::pair<const char*, std::string> cases[] = {
      {"+447700900123:cmd:arg", "+447700900123|cmd:arg"}, {"::123:x", "123|x"}, {"123::", "123|:"}, {"", "-"},
      {"nocolon", "-"}, {"123:", "-"}, {":", "-"}, {":::", "-"}, {"::abc", "-"}};
  for (const auto& [value, expected] : cases) {
    SmsText sms{"kept", "kept"};
    const bool ok = sms_split(value, &sms);  // a rejected value reads "-" only when sms is as it was
    EXPECT_EQ(expected, ok || sms.sender + sms.message != "keptkept" ? sms.sender + "|" + sms.message : "-") << value;
  }
}

TEST(SmsText, SendersAreComparedAsWholeTextsAndPatternsSearchUnanchored) {
  EXPECT_TRUE(sms_sender_allowed("", "anyone"));
  EXPECT_TRUE(sms_sender_allowed("+441234,+445678", "+445678"));
  EXPECT_TRUE(sms_sender_allowed(",,123,,", "123"));
  for (const char* other : {"05678", "+44123", "+4412345", "+445678", ""}) {
    EXPECT_FALSE(sms_sender_allowed("+441234, +445678,,", other)) << other;
  }
  EXPECT_EQ(SmsMatch::kMatch, sms_match("reboot", "please reboot now", nullptr));
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("^reboot$", "please reboot now", nullptr));
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("reboot", "REBOOT", nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("(((((((((((((((((((((x)))))))))))))))))))))", "x", nullptr));
  std::string error;
  EXPECT_EQ(SmsMatch::kBadPattern, sms_match("(", "x", &error));
  EXPECT_FALSE(error.empty());
  // Each repetition of a group is one level of the recursive matcher.
  const std::string text(500000, 'a');
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("(?:a|b)*c", text, nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("a{3}$", text, nullptr));
}

TEST_F(PingSmsCheck, SmsTriggersForAMatchFromAnAllowedSenderAndLogsWhatItDiscards) {
  probe_rule(c, 1, "sms");
  load(1);
  EXPECT_EQ(Strings{kSmsKey}, subs);
  const struct {
    const char* numbers;
    const char* pattern;
    std::string value;
    char what;
    std::string error;  // the start of the one error line logged, if any
  } cases[] = {
      {"+441234,+445678", "reboot", "+445678:please reboot now", 'C', ""},
      {"+441234,+445678", "reboot", "05678:reboot", '-', ""},
      {"", "reboot", "unknown:reboot", 'C', ""},
      {"123", "^cmd:arg$", "123:cmd:arg", 'C', ""},
      {"", "(r)(e)(b)(o)(o)(t)( )(n)(o)(w)", "1:please reboot now", 'C', ""},
      {"", "", "nocolon", '-', "Invalid SMS received: nocolon"},
      {"", "", "123:", '-', "Invalid SMS received: 123:"},
      {"", "", ":", '-', "Invalid SMS received: :"},
      {"", "reboot(", "1:reboot(", '-', "Failed to compile regex reboot(: error "},
      {"123", "reboot(", "456:reboot", '-', ""},  // an unlisted sender is not matched
  };
  for (const auto& row : cases) {
    set(probe_rule_path(1) + ".sms.phone_number", row.numbers);
    set(probe_rule_path(1) + ".sms.message_pattern", row.pattern);
    d.logs.clear();
    walk({1}, kSmsKey, {{row.value, row.what}});
    Strings errors;
    for (const LogRecord& r : d.logs) if (r.priority == kLogError) errors.push_back(r.text.substr(0, row.error.size()));
    EXPECT_EQ(row.error.empty() ? Strings{} : Strings{row.error}, errors) << row.value;
    const std::string line = "AR " + probe_rule_path(1) + " triggered. val " + row.value + " received";
    EXPECT_EQ(row.what == 'C', logged_at(d, kLogInfo, line)) << row.value;
  }
}

TEST_F(PingSmsCheck, SmsRulesEachTakeEveryMessageAndRefreshWhileTriggered) {
  for (int n = 1; n <= 3; ++n) probe_rule(c, n, "sms");
  c.set(probe_rule_path(1) + ".sms.message_pattern", "[");
  c.set(probe_rule_path(2) + ".sms.message_pattern", "^reboot").set(probe_rule_path(2) + ".sms.phone_number", "123");
  c.set(probe_rule_path(3) + ".sms.message_pattern", "status");
  probe_hold_triggered(c, 2);
  load(3);
  walk({3}, kSmsKey, {{"1:status", 'C'}});  // the bad pattern of rule 1 stops no other rule
  const std::string both = "123:reboot status";
  EXPECT_EQ(then(RefKeys{2}.step(kSmsKey, both, 'T'), RefKeys{3}.step(kSmsKey, both, 'C')), deliver(kSmsKey, both));
  walk({2}, kSmsKey, {{"999:not a command", 'r'}, {"nocolon", 'r'}});
}

}  // namespace
