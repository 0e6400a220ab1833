// The daemon under what goes wrong on a real appliance.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <thread>

#include "support/e2e.h"

namespace {

using namespace e2e;

// The hung program's own child goes with it, and its slot frees only once it is reaped.
TEST(SafetyE2e, AHungActionEndsWithItsChildrenAndOnlyThenFreesItsSlot) {
  Sandbox box;
  fake(box, "/bin/act");
  const std::string grandchild = box.path("/grandchild");
  write_file(box.path("/bin/hang"), "#!/bin/sh\nsleep 600 &\necho $! > '" + grandchild + "'\nwait\n", 0755);
  ConfigBuilder c = enviro_rules(1).set("config.autoresponse.concurrent_actions", 1);
  add_script(c.set("config.autoresponse.action_timeout", 1), 1, "trigger_actions", 1, "hang", box.path("/bin/hang"));
  add_script(c, 1, "trigger_actions", 2, "after", box.path("/bin/act"));
  ASSERT_TRUE(box.start(c, state_line(1, "Normal")));

  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.infod.logged(log_line("Finished action: after with status 0")));
  const std::string log = read_file(box.infod.log);
  const size_t timed_out = log.find(log_line("Action timed out: hang for AR: rule1\n"));
  const size_t ended = log.find(log_line("Finished action: hang with status 143 for AR: rule1"));
  EXPECT_NE(std::string::npos, timed_out);
  EXPECT_LT(timed_out, ended);
  EXPECT_LT(ended, log.find(log_line("Finished action: after")));
  EXPECT_TRUE(box.daemon_logged("Action timed out: hang for AR: rule1"));
  // The script's own child went with it: gone, or a zombie left for init to collect.
  const std::string stat = "/proc/" + read_file(grandchild).substr(0, read_file(grandchild).find('\n')) + "/stat";
  EXPECT_TRUE(eventually([&] {
    const std::string s = read_file(stat);
    return s.empty() || s.find(") Z ") != std::string::npos;
  }, 2000)) << read_file(stat);
  expect_clean_end(box);
}

// Without infod the daemon still ends with its own status; in the boot delay the reload reads the file as it is then.
TEST(SafetyE2e, SignalsBeforeTheLoopWaitForIt) {
  Sandbox box;
  box.write_config(enviro_rules(1));
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.daemon_logged("Could not open socket"));
  kill(box.daemon_pid(), SIGHUP);
  kill(box.daemon_pid(), SIGCHLD);
  EXPECT_EQ(255, box.daemon_exit());

  write_file(box.path("/proc/uptime"), "5.00 1.00\n");
  box.write_config(enviro_rules(1).set("config.autoresponse.boot_delay", 100));
  ASSERT_TRUE(box.infod.start());
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.daemon_logged("Boot delay: waiting until the system has been up 100 s"));
  ConfigBuilder later = enviro_rules(2);
  later.set(rule_path(1) + ".name", "").set("config.autoresponse.boot_delay", 100);
  box.write_config(later);
  write_file(box.path("/proc/uptime"), "200.00 1.00\n");
  kill(box.daemon_pid(), SIGHUP);
  // An emulator may finish the 10 s pause of the boot delay before it lets the signal cut it short.
  EXPECT_TRUE(box.infod.logged("<- sub ard " + enviro_key(2), 30000));
  EXPECT_TRUE(box.infod.logged("<- unsub ard " + enviro_key(1)));
  EXPECT_TRUE(box.daemon_running());
  expect_clean_end(box);
}

// In a mount namespace of its own with the test's zone file over /etc/localtime, and no TZ.
TEST(SafetyE2e, AZoneChangedUnderTheDaemonRulesTheWindowsFromTheNextTick) {
  if (!can_unshare()) GTEST_SKIP() << "needs root and mount namespaces";
  const std::string utc = read_file("/usr/share/zoneinfo/Etc/UTC"), east = read_file("/usr/share/zoneinfo/Etc/GMT-12");
  if (utc.empty() || east.empty()) GTEST_SKIP() << "needs the system's zone files";
  Sandbox box;
  const std::string zone = box.path("/localtime");
  write_file(zone, utc);
  // A window of every day around the hour it is now twelve hours east of UTC, far from the hour in UTC.
  const time_t now = time(nullptr) + 12 * 3600;
  tm east_now{};
  gmtime_r(&now, &east_now);
  ConfigBuilder c = enviro_rules(1);
  for (int day = 0; day < 7; ++day) {
    const std::string w = rule_path(1) + ".disable.day" + std::to_string(day) + ".";
    c.set(w + "start_hour", std::max(0, east_now.tm_hour - 1)).set(w + "start_min", 0);
    c.set(w + "end_hour", std::min(23, east_now.tm_hour + 1)).set(w + "end_min", 59);
  }
  box.write_config(c);
  ASSERT_TRUE(box.infod.start());
  const std::string script =
      "mount --bind '" + zone + "' /etc/localtime && unset TZ && exec " + shell_quote(built_command("autoresponsed-dev"));
  box.daemon = spawn_unshared(script, box.path("/daemon.log"),
                              {{"AR_ROOT", box.path("")}, {"XMLDB_PATH", box.path("/etc/config/config.xml")}});
  ASSERT_TRUE(box.infod.logged(state_line(1, "Normal")));
  std::this_thread::sleep_for(std::chrono::seconds(6));  // at least one tick in UTC
  EXPECT_EQ(std::string::npos, read_file(box.infod.log).find(state_line(1, "Disabled")));
  // Rewritten in place (the mount holds the file itself), with a time the C library cannot miss.
  std::ofstream(zone, std::ios::binary | std::ios::trunc) << east;
  const timespec later[2] = {{now, 0}, {now, 0}};
  utimensat(AT_FDCWD, zone.c_str(), later, 0);
  EXPECT_TRUE(box.infod.logged(state_line(1, "Disabled")));
  expect_clean_end(box);
}

// infod takes a push at its limit and delivers it with its time stamp, just over the limit: the daemon reads past
// the update, says whose it was, and goes on with the next one, on a rule's key and on the control key alike.
TEST(SafetyE2e, AnUpdateOverTheLimitIsReadPastOnARuleKeyAndOnTheControlKeyAlike) {
  Sandbox box;
  ASSERT_TRUE(box.start(enviro_rules(1), state_line(1, "Normal")));
  Raw pusher(box.path("/var/run/infod-sock"));
  ASSERT_TRUE(pusher.connected());
  const std::string RS(1, kRS);
  for (const std::string& key : {enviro_key(1), std::string("config.autoresponse.command")}) {
    const std::string head = "1" + RS + key + RS + "0" + RS;
    ASSERT_TRUE(pusher.write_all(frame_of(head + std::string(kMaxInfodMessage - head.size(), '3'))));
    // The update: type, key, number, a time stamp of 13 digits and the value, then CR LF.
    const size_t delivered = kMaxInfodMessage + 16;
    EXPECT_TRUE(box.daemon_logged("Message too long from infod: " + std::to_string(delivered) + ": key " + key + "\n"));
  }
  ASSERT_TRUE(box.push(enviro_key(1), "35"));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Triggered")));
  ASSERT_TRUE(box.push("config.autoresponse.command", rule_path(1) + ",tester,cancel"));
  ASSERT_TRUE(box.infod.logged(log_line("Control Message from tester: " + rule_path(1) + " -> cancel")));
  ASSERT_TRUE(box.infod.logged(state_line(1, "Timeout")));
  EXPECT_TRUE(box.daemon_running());
  expect_clean_end(box);
}

}  // namespace
