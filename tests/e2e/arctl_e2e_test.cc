// arctl status, cancel and log against the development infod and the
// development daemon.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>

#include "support/e2e.h"

namespace {

using namespace e2e;

struct Result {
  int status;
  std::string out, err;
};

// Runs arctl with args on box's infod socket and configuration, not run through sudo unless sudo_user is given.
Result arctl(const Sandbox& box, Strings args, const std::string& sudo_user = "") {
  args.insert(args.begin() + 1, {"--socket", box.path("/var/run/infod-sock")});
  const std::string out = box.path("/arctl.out"), err = box.path("/arctl.err");
  unlink(err.c_str());
  const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = spawn_built("arctl", args, fd, err, {{"XMLDB_PATH", box.path("/etc/config/config.xml")}, {"SUDO_USER", sudo_user}});
  close(fd);
  const int status = wait_exit(pid);
  return {status, read_file(out), read_file(err)};
}

// Rules 1 (a sensor, quiet for 10 minutes after a cancel), 2 (SMS) and 3
// (a check type that does not exist, so the daemon does not load it).
Sandbox& start(Sandbox& box) {
  ConfigBuilder c;
  c.set("config.autoresponse.total", 3);
  add_enviro_rule(c, 1, "rack");
  c.set(rule_path(1) + ".reset_timeout", 600);
  add_rule(c, 2, "status", "sms", "sms.message_pattern=^status");
  add_rule(c, 3, "broken", "thermometer", "");
  EXPECT_TRUE(box.start(c, state_line(2, "Normal")));
  return box;
}

TEST(ArctlE2e, StatusShowsEveryRuleAndReferenceWithItsStateAndValue) {
  Sandbox box;
  start(box);
  Result r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "#  NAME    CHECK          REFERENCE                    STATE       VALUE\n"
            "1  rack    environmental  1 config.ports.port1.enviro  Normal      -\n"
            "2  status  sms            1                            Normal      -\n"
            "3  broken  thermometer    -                            not loaded  -\n");
  EXPECT_EQ(r.err, "arctl: the daemon does not load some rules or references; 'arctl check' tells why\n");

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  // The value of an SMS carries infod's field separator: shown, never raw.
  ASSERT_TRUE(box.push("config.sms.incoming", "+15551234567:status\x1enow"));
  ASSERT_TRUE(box.infod.logged(log_line("AR: name=status, index=2, ref=1, state=Triggered, "
                                         "event=config.sms.incoming, value=+15551234567:status|now")));
  // The rule has no resolve stage: it is Normal again once it has triggered.
  const std::string expected =
      "#  NAME    CHECK          REFERENCE                    STATE       VALUE\n"
      "1  rack    environmental  1 config.ports.port1.enviro  Triggered   31.5\n"
      "2  status  sms            1                            Normal      +15551234567:status\\x1enow\n"
      "3  broken  thermometer    -                            not loaded  -\n";
  EXPECT_TRUE(eventually([&] { return (r = arctl(box, {"status"})).out == expected; }, 5000)) << r.out;
  EXPECT_EQ(r.status, 0);

  expect_clean_end(box);
  r = arctl(box, {"status"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("arctl: cannot reach infod at " + box.path("/var/run/infod-sock") + " (", 0), 0) << r.err;
  EXPECT_NE(r.err.find("); is infod running?\n"), std::string::npos) << r.err;
  expect_no_sanitizer_report(box.path("/arctl.err"));
}

// The command names who cancels: the user running arctl, the one sudo ran it for, or whom --as names.
TEST(ArctlE2e, CancelSendsTheCommandForARuleByNameOrNumber) {
  Sandbox box;
  start(box);
  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  const struct passwd* pw = getpwuid(getuid());
  const std::string user = pw != nullptr ? pw->pw_name : std::to_string(getuid());
  Result r = arctl(box, {"cancel", "rack"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "sent \"config.autoresponse.autoresponse1," + user + ",cancel\" to config.autoresponse.command "
                   "(rule 1, rack)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(box.infod.logged(log_line("Control Message from " + user + ": config.autoresponse.autoresponse1 -> "
                                        "cancel")));
  EXPECT_TRUE(box.infod.logged(state_line(1, "Timeout")));

  // Sent all the same, but the daemon ignores it: arctl says why.
  r = arctl(box, {"cancel", "1"}, "alice");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("sent \"config.autoresponse.autoresponse1,alice,cancel\"", 0), 0u) << r.out;
  EXPECT_EQ(r.err, "arctl: note: reference 1 of rule 1 (rack) is Timeout; the daemon cancels only a Triggered or "
                   "Resolving rule and ignores this\n");
  EXPECT_TRUE(box.daemon_logged("AR config.autoresponse.autoresponse1 not in the correct state to perform cancel"));
  r = arctl(box, {"cancel", "--as", "night shift", "1"}, "alice");
  EXPECT_EQ(r.out.rfind("sent \"config.autoresponse.autoresponse1,night shift,cancel\"", 0), 0u) << r.out;

  r = arctl(box, {"cancel", "rak"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "arctl: the configuration has no rule named rak ('arctl status' lists them)\n");
  r = arctl(box, {"cancel", "config.autoresponse.autoresponse3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "arctl: the daemon does not load rule 3 (broken) ('arctl check' tells why); nothing sent\n");
  EXPECT_EQ(r.out, "");
  expect_clean_end(box);
}

TEST(ArctlE2e, LogPrintsTheLastLineAndFollowsEveryNewOneWithItsTime) {
  Sandbox box;
  start(box);
  const std::string followed = box.path("/follow.out");
  const int fd = open(followed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t follower = spawn_built("arctl", {"log", "-f", "--socket", box.path("/var/run/infod-sock")}, fd,
                                     box.path("/follow.err"));
  close(fd);
  ASSERT_TRUE(box.infod.logged("<- sub arctl config.autoresponse.log"));

  ASSERT_TRUE(box.push(enviro_key(1), "31.5"));
  const std::string triggered =
      "AR: name=rack, index=1, ref=1, state=Triggered, event=config.ports.port1.enviro.temp, value=31.5";
  ASSERT_TRUE(box.infod.logged(log_line(triggered)));
  EXPECT_TRUE(eventually([&] { return read_file(followed).find(triggered) != std::string::npos; }));
  // The line's local time (a digit for each 0 of the shape), two spaces, the line.
  const std::string got = read_file(followed), shape = "0000-00-00 00:00:00  ";
  bool stamped = got.size() > shape.size() && got.substr(shape.size()) == triggered + "\n";
  for (size_t i = 0; stamped && i < shape.size(); ++i) {
    stamped = shape[i] == '0' ? isdigit(static_cast<unsigned char>(got[i])) != 0 : got[i] == shape[i];
  }
  EXPECT_TRUE(stamped) << got;

  const Result r = arctl(box, {"log"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, triggered + "\n");

  kill(follower, SIGTERM);
  EXPECT_EQ(wait_exit(follower), 128 + SIGTERM);
  expect_clean_end(box);
  expect_no_sanitizer_report(box.path("/follow.err"));
}

}  // namespace
