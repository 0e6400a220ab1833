// A storm of reloads while updates flow and actions run: the daemon keeps
// running, every action it starts is reaped and reported, and (under the
// sanitizers) it ends without a leak.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "support/e2e.h"
#include "support/rules.h"

namespace {

using namespace e2e;

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

TEST(ReloadStorm, EveryStartedActionIsReapedAndReported) {
  Sandbox box;
  const std::string started = box.path("/started");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + started + "'\nsleep 0.05\n", 0755);
  ConfigBuilder c;
  c.set("config.autoresponse.total", 4).set("config.autoresponse.concurrent_actions", 3);
  for (int n = 1; n <= 4; ++n) {
    add_enviro_rule(c, n);
    c.set(rule_path(n) + ".trigger_actions.total", 1).set(rule_path(n) + ".resolve_actions.total", 1);
    for (const char* list : {"trigger_actions", "resolve_actions"}) {
      add_action(c, n, list, 1, std::string(list) + std::to_string(n), "custom");
      const std::string a = rule_path(n) + "." + list + ".action1.custom";
      c.set(a + ".script", box.path("/bin/act")).set(a + ".args.total", 1).set(a + ".args.arg1", "$AR_NAME");
    }
  }
  box.write_config(c);
  ASSERT_TRUE(box.start_infod());
  ASSERT_TRUE(box.start_daemon());
  ASSERT_TRUE(box.infod().logged("<- sub ard " + enviro_key(4)));

  Raw feed(box.infod().socket());
  ASSERT_TRUE(feed.connected());
  const auto end = SteadyClock::now() + std::chrono::seconds(5);
  int round = 0;
  while (SteadyClock::now() < end) {
    box.signal_daemon(SIGHUP);
    const int n = 1 + round % 4;
    feed.push(enviro_key(n), round % 2 == 0 ? "35" : "20");
    ++round;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(box.daemon_running());
  // Let the last actions finish, then compare what ran with what was
  // reported: a start is a line in the file, a report a pushed line.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  ASSERT_TRUE(eventually(
      [&] {
        const int runs = count(read_file(started), "\n");
        return runs > 0 && count(box.infod().log(), "Finished action: ") == runs;
      },
      20000))
      << "started " << count(read_file(started), "\n") << ", reported "
      << count(box.infod().log(), "Finished action: ");
  EXPECT_EQ(0, count(box.infod().log(), "queuing failed"));
  box.infod().stop();
  EXPECT_EQ(1, box.daemon_exit(20000));
  const std::string log = box.daemon_log();
  EXPECT_EQ(std::string::npos, log.find("Sanitizer")) << log.substr(0, 4000);
  EXPECT_EQ(std::string::npos, log.find("runtime error")) << log.substr(0, 4000);
}

}  // namespace
