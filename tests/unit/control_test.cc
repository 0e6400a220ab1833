// Control commands: cancel, silence and unsilence, the splitting of the text, and commands logged and ignored.
#include <gtest/gtest.h>

#include "base/log.h"
#include "engine/restart_record.h"
#include "engine/silence.h"
#include "model/archeck.h"
#include "support/rules.h"

namespace {

const std::string kRule2 = rule_path(2);

// Two custom-script rules, the second with two references, both Triggered.
class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    ConfigBuilder c;
    for (int n : {1, 2}) {
      c.set(rule_path(n) + ".name", "rule" + std::to_string(n)).set(rule_path(n) + ".check_type", "custom");
    }
    ASSERT_EQ(0, d.load(c.set(kRule2 + ".custom.dev_refs.total", 2).set("config.autoresponse.total", 2)));
    ASSERT_EQ(0, d.deliver(kRule2 + ".check.status", "1"));
  }
  // The command's pushes as "key=value", after setting the first reference of rule 2 to state.
  Strings command(ArCheckState state, const std::string& text) {
    d.check(1).state = state;
    d.take_sent();
    d.logs.clear();
    EXPECT_EQ(0, d.deliver("config.autoresponse.command", text));
    Strings out;
    for (const SentMessage& m : d.take_sent()) out.push_back(m.key + "=" + m.value);
    return out;
  }
  static Strings cancelled(const std::string& line) {
    return {"config.autoresponse.log=Control Message from " + line, kRule2 + ".refs.ref1.status=Timeout",
            "config.autoresponse.log=AR: name=rule2, index=2, ref=1, state=Timeout"};
  }
  TestDaemon d;
};

TEST_F(Control, CancelTimesOutATriggeredOrResolvingFirstReference) {
  const std::string line = "admin: " + kRule2 + " -> cancel";
  EXPECT_EQ(cancelled(line), command(kArTriggered, kRule2 + ",admin,cancel"));
  EXPECT_EQ(kArTriggered, d.check(2).state);  // only the first reference
  EXPECT_EQ(cancelled(line), command(kArResolving, kRule2 + ",admin,cancel"));
  EXPECT_EQ(cancelled(line + "led"), command(kArTriggered, kRule2 + ",admin,cancelled"));  // a verb prefix
  // An origin's control bytes reach no log raw (infod ends a value at CR or LF, the log escapes the rest).
  EXPECT_EQ(cancelled("ad\\x09min\\x1b[2J: " + kRule2 + " -> cancel"),
            command(kArTriggered, kRule2 + ",ad\tmin\x1b[2J,cancel"));
  // With an id, the same and then the answer, once all the command changed is pushed; a refusal says what was logged.
  const std::string answer = "config.autoresponse.daemon.command.result=";
  Strings answered = cancelled(line);
  answered.push_back(answer + "a1 accepted");
  EXPECT_EQ(answered, command(kArTriggered, "@a1 " + kRule2 + ",admin,cancel"));
  EXPECT_EQ(Strings{answer + "a.2 refused AR " + kRule2 + " not in the correct state to perform cancel"},
            command(kArNormal, "@a.2 " + kRule2 + ",admin,cancel"));
  // Leading commas and runs of commas vanish; a fourth field is ignored.
  EXPECT_EQ(cancelled("web user: " + kRule2 + " -> cancel now"),
            command(kArTriggered, ",," + kRule2 + ",,web user,,cancel now,extra"));
}

TEST_F(Control, OtherCommandsAreLoggedAndChangeNothing) {
  const std::string wrong_state = "AR " + kRule2 + " not in the correct state to perform cancel";
  const struct { ArCheckState state; std::string text; int priority; std::string log; } cases[] = {
      {kArNormal, kRule2 + ",admin,cancel", kLogInfo, wrong_state},
      {kArTimeout, kRule2 + ",admin,cancel", kLogInfo, wrong_state},
      {kArTriggered, kRule2 + ",,cancel", kLogFatal, "Invalid control message received"},  // no origin
      {kArTriggered, kRule2 + ",admin", kLogFatal, "Invalid control message received"},
      {kArTriggered, "rule2,admin,cancel", kLogFatal, "Control message for invalid AR received"},
      {kArTriggered, kRule2 + ".,admin,cancel", kLogFatal, "Control message for invalid AR received"},
      {kArTriggered, kRule2 + ",admin,cance", kLogFatal, "Unknown action: cance"},
      // Unlike cancel, silence and unsilence are the whole field.
      {kArTriggered, kRule2 + ",admin,silencefoo,600,0", kLogFatal, "Unknown action: silencefoo"},
      {kArTriggered, kRule2 + ",admin,silence now,600,0", kLogFatal, "Unknown action: silence now"},
      {kArTriggered, kRule2 + ",admin,unsilenced,0", kLogFatal, "Unknown action: unsilenced"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(Strings{}, command(row.state, row.text)) << row.text;
    EXPECT_TRUE(d.logged_at(row.priority, row.log)) << row.text;
    EXPECT_EQ(row.state, d.check(1).state) << row.text;
    EXPECT_EQ(0u, d.ctx.engine.silences.count(kRule2)) << row.text;
  }
}

// Silences of rule 2: who, until when and why go into the engine and the rule's kept record; at most one per
// reference, a silence of every reference counting as one on each; unsilence 0 lifts them all.
TEST_F(Control, SilencesAreTakenWithinTheirBoundsAndLifted) {
  const std::string reason = "kernel update, then reboot";
  EXPECT_EQ(Strings{"config.autoresponse.log=Control Message from admin: " + kRule2 + " -> silence,600,2,," + reason},
            command(kArTriggered, kRule2 + ",admin,silence,600,2,," + reason));
  ASSERT_EQ(1u, d.ctx.engine.silences[kRule2].size());
  const Silence& s = d.ctx.engine.silences[kRule2][0];
  EXPECT_EQ(d.clock.monotonic_ms() + 600000, s.until_ms);
  const std::string until = silence_until_text(d.ctx.engine, s.until_ms);
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of reference 2 of AR " + kRule2 + " until " + until + ", by admin: " + reason));
  RestartRule kept;
  ASSERT_TRUE(restart_rule_parse(d.kept["2"], &kept));
  ASSERT_EQ(1u, kept.silences.size());
  EXPECT_EQ(d.clock.wall_ms() + 600000, kept.silences[0].until_ms);
  EXPECT_EQ(reason, kept.silences[0].reason);

  const std::string refused = "Refused silence for AR " + kRule2 + ": ";
  const std::string taken = refused + "reference 2 is silenced already until " + until;
  const struct { std::string text; int priority; std::string log; } cases[] = {
      {"silence,x600,0", kLogFatal, refused + "no number of seconds"},
      {"silence,-5,0", kLogFatal, refused + "no number of seconds"},
      {"silence,600", kLogFatal, refused + "no reference number"},
      {"silence,600,1x", kLogFatal, refused + "no reference number"},
      {"silence,0,1", kLogInfo, refused + "the duration must be 1 to 2592000 seconds"},
      {"silence,2592001,1", kLogInfo, refused + "the duration must be 1 to 2592000 seconds"},
      {"silence,99999999999999999999,1", kLogInfo, refused + "the duration must be 1 to 2592000 seconds"},
      {"silence,60,3", kLogInfo, refused + "it has no reference 3"},
      {"silence,60,1," + std::string(257, 'r'), kLogInfo, refused + "the reason is longer than 256 bytes"},
      {"silence,60,2", kLogInfo, taken},
      {"silence,60,0", kLogInfo, taken},  // every reference counts as one on each
      {"unsilence", kLogFatal, "Refused unsilence for AR " + kRule2 + ": no reference number"},
      {"unsilence,1", kLogInfo, "Refused unsilence for AR " + kRule2 + ": reference 1 is not silenced"},
  };
  for (const auto& row : cases) {
    EXPECT_EQ(Strings{}, command(kArTriggered, kRule2 + ",admin," + row.text)) << row.text;
    EXPECT_EQ(1, d.logged_at(row.priority, row.log)) << row.text;
    EXPECT_EQ(1u, d.ctx.engine.silences[kRule2].size()) << row.text;
  }
  EXPECT_EQ(kArTriggered, d.check(1).state);
  command(kArTriggered, kRule2 + ",admin,silence,60,1");
  EXPECT_EQ(2u, d.ctx.engine.silences[kRule2].size());
  EXPECT_EQ(Strings{"config.autoresponse.log=Control Message from night: " + kRule2 + " -> unsilence,0"},
            command(kArTriggered, kRule2 + ",night,unsilence,0"));
  EXPECT_EQ(0u, d.ctx.engine.silences.count(kRule2));
  for (const char* ref : {"1", "2"}) {
    EXPECT_EQ(1, d.logged_at(kLogInfo, "Silence of reference " + std::string(ref) + " of AR " + kRule2 +
                                           " ended: lifted by night"));
  }
  ASSERT_TRUE(restart_rule_parse(d.kept["2"], &kept));
  EXPECT_TRUE(kept.silences.empty());
  // A silence of every reference stands in the way of one of a reference, and is not lifted by one.
  command(kArTriggered, kRule2 + ",admin,silence,60,0");
  command(kArTriggered, kRule2 + ",admin,unsilence,2");
  EXPECT_EQ(1, d.logged_at(kLogInfo, "Refused unsilence for AR " + kRule2 +
                                         ": reference 2 is silenced only with every reference (lift that with 0)"));
  command(kArTriggered, kRule2 + ",admin,silence,60,1");
  EXPECT_TRUE(d.logged(refused + "every reference is silenced already until "));
  EXPECT_EQ(1u, d.ctx.engine.silences[kRule2].size());
}

}  // namespace
