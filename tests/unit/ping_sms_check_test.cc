// The ping and SMS command checks: results, senders, unanchored patterns, malformed messages and bad patterns.
#include "support/check_probe.h"

const std::string kSmsKey = "config.sms.incoming", kStatus = probe_rule_path(1) + ".check.status";

using PingSmsCheck = CheckTest;

TEST_F(PingSmsCheck, PingResultsAndSmsRulesThatEachTakeEveryMessageAndRefreshFromAllowedSenders) {
  rule(1, "net_ping", {{"net.ping.address", "192.0.2.1"}});
  rule(2, "sms", {{"sms.message_pattern", "["}});
  rule(3, "sms", {{"sms.message_pattern", "^reboot"}, {"sms.phone_number", "123"}}, true);
  rule(4, "sms", {{"sms.message_pattern", "status"}});
  load(4);
  EXPECT_EQ((Strings{kStatus, kSmsKey, kSmsKey, kSmsKey}), subs);
  walk({1}, kStatus, {{"0", '-'}, {"3", 'T'}, {"3", 'r'}, {"0", 'N'}, {"1", 'T'}, {"timeout", 'N'}});
  EXPECT_EQ("0|192.0.2.1|ICMP Ping|" + probe_rule_path(1), device_of(0));
  takes(kSmsKey, "1:status", {{4, 'C'}});  // the bad pattern of rule 2 stops no other rule
  takes(kSmsKey, "123:reboot status", {{3, 'T'}, {4, 'C'}});
  // While Triggered only an allowed sender's message becomes the value $CELLNUM and $AR_VAL read.
  walk({3}, kSmsKey, {{"999:not a command", '-'}, {"nocolon", '-'}, {":123:not a command", 'r'}, {"123", 'r'}});
}

TEST_F(PingSmsCheck, SmsTriggersForAMatchFromAnAllowedSenderAndLogsWhatItDiscards) {
  rule(1, "sms", {});
  load(1);
  const struct { const char *numbers, *pattern; std::string value; char what; std::string error; } cases[] = {
      {"+441234,+445678", "reboot", "+445678:please reboot now", 'C', ""},  // unanchored
      {",,123,,", "^cmd:arg$", "::123:cmd:arg", 'C', ""},  // leading colons go, the message keeps its own
      {"", "(r)(e)(b)(o)(o)(t)( )(n)(o)(w)", "1:please reboot now", 'C', ""},
      {"+441234, +445678,,", "reboot", "+445678:reboot", '-', ""},  // senders are compared as whole texts
      {"", "^reboot$", "1:please reboot now", '-', ""},
      {"", "(?:a|b)*c", "1:" + std::string(500000, 'a'), '-', ""},  // each repetition is a level of the matcher
      {"", "a{3}$", "1:" + std::string(500000, 'a'), 'C', ""},      // so its depth is bounded
      {"", "", "nocolon", '-', "Invalid SMS received: nocolon"},
      {"", "", "123:", '-', "Invalid SMS received: 123:"},
      {"", "", ":::", '-', "Invalid SMS received: :::"},
      {"", "reboot(", "1:reboot(", '-', "Failed to compile regex reboot(: error missing )"},
      {"123", "reboot(", "456:reboot", '-', ""},  // an unlisted sender is not matched
  };
  for (const auto& row : cases) {
    set(probe_rule_path(1) + ".sms.phone_number", row.numbers);
    set(probe_rule_path(1) + ".sms.message_pattern", row.pattern);
    d.logs.clear();
    walk({1}, kSmsKey, {{row.value, row.what}});
    Strings errors;
    for (const LogRecord& r : d.logs) if (r.priority == kLogError) errors.push_back(r.text);
    EXPECT_EQ(row.error.empty() ? Strings{} : Strings{row.error}, errors) << row.value.substr(0, 40);
    EXPECT_EQ(row.what == 'C', info("AR " + probe_rule_path(1) + " triggered. val " + row.value + " received"));
  }
}
