// The ping and SMS command checks: decisions per state, exact publications,
// the SMS value's parsing, sender lists and pattern matching, and what a
// malformed SMS or a bad pattern does (the daemon goes on).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "checks/check_type.h"
#include "checks/sms_command.h"
#include "config/archeck.h"
#include "core/log.h"
#include "support/check_pushes.h"
#include "support/test_daemon.h"

namespace {

const std::string kRule1 = "config.autoresponse.autoresponse1";
const std::string kRule2 = "config.autoresponse.autoresponse2";
const std::string kSmsKey = "config.sms.incoming";

std::string rule(int n) { return "config.autoresponse.autoresponse" + std::to_string(n); }

void add_sms(ConfigBuilder& c, int n, const std::string& name, const std::string& numbers,
             const std::string& pattern) {
  c.set(rule(n) + ".name", name)
      .set(rule(n) + ".check_type", "sms")
      .set(rule(n) + ".sms.phone_number", numbers)
      .set(rule(n) + ".sms.message_pattern", pattern);
}

// A trigger action that waits, so a reference stays Triggered.
void add_delayed_trigger_action(ConfigBuilder& c, int n) {
  const std::string p = rule(n) + ".trigger_actions";
  c.set(p + ".total", 1).set(p + ".action1.name", "later").set(p + ".action1.action_type", "custom");
  c.set(p + ".action1.delay_time", 600);
}

class CheckFixture : public ::testing::Test {
 protected:
  void load(const ConfigBuilder& c) {
    d.write_config(c);
    ASSERT_EQ(0, d.load());
    d.take_sent();
  }
  std::vector<Push> deliver(const std::string& key, const std::string& value) {
    EXPECT_EQ(0, d.deliver(key, value));
    return pushes_of(d.take_sent());
  }
  TestDaemon d;
};

class PingCheck : public CheckFixture {
 protected:
  void SetUp() override {
    ConfigBuilder c;
    c.set("config.autoresponse.total", 1)
        .set(kRule1 + ".name", "gateway")
        .set(kRule1 + ".check_type", "net_ping")
        .set(kRule1 + ".net.ping.address", "192.0.2.1");
    load(c);
  }
  const std::string status = kRule1 + ".check.status";
  const RefKeys gateway{kRule1, "gateway", 1};
};

TEST_F(PingCheck, ResultsZeroThreeThreeZero) {
  EXPECT_EQ(status, d.check(0).subscription);
  EXPECT_TRUE(deliver(status, "0").empty());

  EXPECT_EQ(gateway.change("Triggered", status, "3"), deliver(status, "3"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val 3 vs trigger 0"));

  d.logs.clear();
  EXPECT_EQ(gateway.refresh("3"), deliver(status, "3"));
  EXPECT_TRUE(d.logs.empty());

  EXPECT_EQ(then(gateway.change("Resolving", status, "0"), gateway.change("Normal")), deliver(status, "0"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "ar " + kRule1 + " resolving. val 0 vs 0"));
}

TEST_F(PingCheck, WordResultReadsAsZeroAndResolves) {
  deliver(status, "1");
  EXPECT_EQ(then(gateway.change("Resolving", status, "timeout"), gateway.change("Normal")),
            deliver(status, "timeout"));
}

TEST_F(PingCheck, Describes) {
  ArCheck& check = d.check(0);
  OptionalText device, label, dev_ref;
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ("192.0.2.1", device.value_or("<unset>"));
  EXPECT_EQ("ICMP Ping", label.value_or("<unset>"));
  EXPECT_EQ(kRule1, dev_ref.value_or("<unset>"));

  OptionalText value, property, trigger;
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_FALSE(value || property || trigger);
  deliver(status, "2");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ("2", value.value_or("<unset>"));
  EXPECT_EQ("N/A", property.value_or("<unset>"));
  EXPECT_EQ("0", trigger.value_or("<unset>"));
}

// --- Parsing and matching --------------------------------------------------

TEST(SmsSplit, SenderIsTheFirstTokenAndTheMessageEverythingAfterIt) {
  SmsText sms;
  ASSERT_TRUE(sms_split("+447700900123:cmd:arg", &sms));
  EXPECT_EQ("+447700900123", sms.sender);
  EXPECT_EQ("cmd:arg", sms.message);
  ASSERT_TRUE(sms_split("::123:x", &sms));
  EXPECT_EQ("123", sms.sender);
  EXPECT_EQ("x", sms.message);
  ASSERT_TRUE(sms_split("123::", &sms));
  EXPECT_EQ(":", sms.message);
}

TEST(SmsSplit, RejectsValuesWithoutSenderOrMessage) {
  for (const char* bad : {"", "nocolon", "123:", ":", ":::", "::abc"}) {
    SmsText sms{"kept", "kept"};
    EXPECT_FALSE(sms_split(bad, &sms)) << bad;
    EXPECT_EQ("kept", sms.sender) << bad;
  }
}

TEST(SmsSenders, ComparedAsWholeTexts) {
  EXPECT_TRUE(sms_sender_allowed("", "anyone"));
  EXPECT_TRUE(sms_sender_allowed("+441234,+445678", "+445678"));
  EXPECT_FALSE(sms_sender_allowed("+441234,+445678", "05678"));
  EXPECT_FALSE(sms_sender_allowed("+441234", "+44123"));
  EXPECT_FALSE(sms_sender_allowed("+441234", "+4412345"));
  EXPECT_TRUE(sms_sender_allowed(",,123,,", "123"));
  EXPECT_FALSE(sms_sender_allowed(",", ""));
  EXPECT_FALSE(sms_sender_allowed("123, 456", "456"));
}

TEST(SmsMatcher, SearchIsUnanchoredAndCaseSensitive) {
  EXPECT_EQ(SmsMatch::kMatch, sms_match("reboot", "please reboot now", nullptr));
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("^reboot$", "please reboot now", nullptr));
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("reboot", "REBOOT", nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("", "anything", nullptr));
}

TEST(SmsMatcher, TenOrMoreGroupsStillMatch) {
  EXPECT_EQ(SmsMatch::kMatch, sms_match("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("(((((((((((((((((((((x)))))))))))))))))))))", "x", nullptr));
}

TEST(SmsMatcher, BadPatternReportsPcreText) {
  std::string error;
  EXPECT_EQ(SmsMatch::kBadPattern, sms_match("(", "x", &error));
  EXPECT_FALSE(error.empty());
}

TEST(SmsMatcher, LongTextCannotExhaustTheStack) {
  // Each repetition of a group is one level of PCRE's recursive matcher.
  const std::string text(500000, 'a');
  EXPECT_EQ(SmsMatch::kNoMatch, sms_match("(?:a|b)*c", text, nullptr));
  EXPECT_EQ(SmsMatch::kMatch, sms_match("a{3}$", text, nullptr));
}

// --- The SMS check in the daemon ------------------------------------------

class SmsCheck : public CheckFixture {
 protected:
  void load_one(const std::string& numbers, const std::string& pattern, bool stay_triggered = false) {
    ConfigBuilder c;
    c.set("config.autoresponse.total", 1);
    add_sms(c, 1, "sms", numbers, pattern);
    if (stay_triggered) add_delayed_trigger_action(c, 1);
    load(c);
  }
  bool triggers(const std::string& value) {
    const std::vector<Push> pushes = deliver(kSmsKey, value);
    if (pushes.empty()) return false;
    EXPECT_EQ(then(ref.change("Triggered", kSmsKey, value), ref.change("Normal")), pushes);
    return true;
  }
  const RefKeys ref{kRule1, "sms", 1};
};

TEST_F(SmsCheck, TriggersForAMatchFromAListedSender) {
  load_one("+441234,+445678", "reboot");
  EXPECT_TRUE(triggers("+445678:please reboot now"));
  EXPECT_TRUE(logged_at(d, kLogInfo, "AR " + kRule1 + " triggered. val +445678:please reboot now received"));
  // Without a trigger action or a resolve stage the trigger ends at once.
  EXPECT_EQ(kArNormal, d.check(0).state);
}

TEST_F(SmsCheck, SameNumberWrittenAnotherWayIsNotListed) {
  load_one("+441234,+445678", "reboot");
  EXPECT_FALSE(triggers("05678:reboot"));
  EXPECT_FALSE(triggers("+4456789:reboot"));
}

TEST_F(SmsCheck, EmptyListAllowsAnyone) {
  load_one("", "reboot");
  EXPECT_TRUE(triggers("999:reboot"));
  EXPECT_TRUE(triggers("unknown:reboot"));
}

TEST_F(SmsCheck, MessageKeepsFurtherColons) {
  load_one("123", "^cmd:arg$");
  EXPECT_TRUE(triggers("123:cmd:arg"));
}

TEST_F(SmsCheck, PatternWithTenGroupsTriggers) {
  load_one("", "(r)(e)(b)(o)(o)(t)( )(n)(o)(w)");
  EXPECT_TRUE(triggers("1:please reboot now"));
}

TEST_F(SmsCheck, MalformedValuesAreLoggedAndDropped) {
  load_one("", "");
  for (const std::string bad : {"nocolon", "123:", ":"}) {
    EXPECT_TRUE(deliver(kSmsKey, bad).empty()) << bad;
    EXPECT_TRUE(logged_at(d, kLogError, "Invalid SMS received: " + bad)) << bad;
    EXPECT_EQ(kArNormal, d.check(0).state);
  }
  EXPECT_TRUE(triggers("1:fine"));
}

TEST_F(SmsCheck, BadPatternIsLoggedAndTheMessageDropped) {
  load_one("", "reboot(");
  EXPECT_FALSE(triggers("1:reboot("));
  bool found = false;
  for (const LogRecord& r : d.logs) {
    if (r.priority == kLogError && r.text.rfind("Failed to compile regex reboot(: error ", 0) == 0) found = true;
  }
  EXPECT_TRUE(found);
  EXPECT_EQ(kArNormal, d.check(0).state);
}

TEST_F(SmsCheck, UnlistedSenderIsNeitherMatchedNorLogged) {
  load_one("123", "reboot(");
  d.logs.clear();
  EXPECT_FALSE(triggers("456:reboot"));
  EXPECT_TRUE(d.logs.empty());
}

TEST_F(SmsCheck, WhileTriggeredEveryMessageRefreshes) {
  load_one("123", "^reboot$", true);
  ASSERT_EQ(ref.change("Triggered", kSmsKey, "123:reboot"), deliver(kSmsKey, "123:reboot"));
  d.logs.clear();
  EXPECT_EQ(ref.refresh("999:not a command"), deliver(kSmsKey, "999:not a command"));
  EXPECT_EQ(ref.refresh("nocolon"), deliver(kSmsKey, "nocolon"));
  EXPECT_TRUE(d.logs.empty());
  EXPECT_EQ(kArTriggered, d.check(0).state);
}

TEST_F(SmsCheck, TwoRulesEvaluateEveryMessageInOrder) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_sms(c, 1, "reboot", "", "reboot");
  add_sms(c, 2, "status", "", "status");
  load(c);
  const RefKeys one{kRule1, "reboot", 1};
  const RefKeys two{kRule2, "status", 2};
  const std::string both = "1:reboot status";
  EXPECT_EQ(then(then(one.change("Triggered", kSmsKey, both), one.change("Normal")),
                 then(two.change("Triggered", kSmsKey, both), two.change("Normal"))),
            deliver(kSmsKey, both));
  EXPECT_EQ(then(two.change("Triggered", kSmsKey, "1:status"), two.change("Normal")), deliver(kSmsKey, "1:status"));
}

TEST_F(SmsCheck, BadPatternOfOneRuleLeavesTheNextRuleWorking) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 2);
  add_sms(c, 1, "broken", "", "[");
  add_sms(c, 2, "good", "", "reboot");
  load(c);
  const RefKeys two{kRule2, "good", 2};
  EXPECT_EQ(then(two.change("Triggered", kSmsKey, "1:reboot"), two.change("Normal")), deliver(kSmsKey, "1:reboot"));
}

TEST_F(SmsCheck, Describes) {
  load_one("+441234,+445678", "reboot", true);
  ArCheck& check = d.check(0);
  OptionalText device, label, dev_ref;
  ASSERT_EQ(0, check.ops->describe_device(&check, &device, &label, &dev_ref));
  EXPECT_EQ("N/A", device.value_or("<unset>"));
  EXPECT_EQ("SMS Command", label.value_or("<unset>"));
  EXPECT_EQ("N/A", dev_ref.value_or("<unset>"));

  OptionalText value, property, trigger;
  EXPECT_EQ(-1, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_FALSE(value || property || trigger);
  deliver(kSmsKey, "+441234:reboot:now");
  ASSERT_EQ(0, check.ops->describe_trigger(&check, &value, &property, &trigger));
  EXPECT_EQ("+441234:reboot:now", value.value_or("<unset>"));
  EXPECT_EQ("+441234,+445678", property.value_or("<unset>"));
  EXPECT_EQ("reboot", trigger.value_or("<unset>"));
}

}  // namespace
