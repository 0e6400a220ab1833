// The real daemon binaries against a bare infod stand-in read byte by byte, and the production binary.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <thread>

#include "support/e2e.h"

namespace {

using namespace e2e;
const std::string RS(1, kRS);

const std::string kControlSubscription =
    std::string("\0\0\0\x21", 4) + "2\x1e" + "ard\x1e" + "config.autoresponse.command";

const std::string kStatusPush = "1" + RS + "config.autoresponse.daemon.";

const std::string kGet = "4" + RS + "ard" + RS;

// A get of a level's current value, which a reference sends once subscribed (a raw infod leaves it unanswered: the
// reference judges nothing), not of a trigger counter.
bool level_get(const std::string& body) { return body.rfind(kGet, 0) == 0 && body.find(".count.") == std::string::npos; }

// The next body that is not one of the daemon's own status pushes (at start, each load and each tick) or a level's
// get.
std::string rule_body(const Raw& infod) {
  std::string body = infod.read_body();
  while (body.rfind(kStatusPush, 0) == 0 || level_get(body)) body = infod.read_body();
  return body;
}

std::string reading(const std::string& value) {
  return frame_of("8" + RS + enviro_key(1) + RS + "0" + RS + "1700000000000" + RS + value + "\r\n");
}

// The trigger counter of the sensor of rule 1, and the daemon's get of it.
const std::string kCounter = "config.ports.port1.enviro.count.temp", kCounterGet = "4" + RS + "ard" + RS + kCounter;

void wait_for_normal(const Raw& infod) {
  std::string body;
  for (int i = 0; i < 10 && body.find("state=Normal") == std::string::npos; ++i) body = rule_body(infod);
  ASSERT_NE(std::string::npos, body.find("state=Normal"));
}

// Batches of readings of a kilobyte, alternating above and below the threshold unless all above, until infod
// stops taking them or 24 MiB went: how much went.
size_t flood(const Raw& infod, bool alternate) {
  std::string batch;
  for (int i = 0; i < 256; ++i) batch += reading((alternate && i % 2 != 0 ? "20." : "31.") + std::string(1000, '0'));
  size_t sent = 0;
  while (sent < (24u << 20) && infod.write_all(batch)) sent += batch.size();
  return sent;
}

std::unique_ptr<Raw> start_against_raw_infod(Sandbox& box, const ConfigBuilder& config) {
  box.write_config(config);
  const int fd = box.start_daemon_against_own_socket();
  EXPECT_GE(fd, 0) << "the daemon did not connect";
  return std::make_unique<Raw>(fd);
}

// The uptime is polled every 10 s with the loop not running: nothing reaches infod before the poll
// that reads 105, however close 100.50 is.
TEST(DaemonLink, BootDelayHoldsAllTrafficThenTheControlSubscriptionComesAlone) {
  Sandbox box;
  write_file(box.path("/proc/uptime"), "100.50 180.20\n");
  auto infod = start_against_raw_infod(
      box, ConfigBuilder().set("config.autoresponse.boot_delay", 105).set("config.autoresponse.total", 0));
  EXPECT_EQ("", infod->read_bytes(1, 2000));
  write_file(box.path("/proc/uptime"), "105.01 180.20\n");
  EXPECT_EQ(kControlSubscription, infod->read_bytes(37, 30000));
  // Then only the daemon's own status: it reads nothing back of what it published before a restart.
  for (std::string body; !(body = infod->read_body(1000)).empty();) {
    EXPECT_TRUE(body.rfind(kStatusPush, 0) == 0) << body;
  }
  infod.reset();  // infod going ends the daemon
  EXPECT_EQ(1, box.daemon_exit());
  EXPECT_TRUE(box.daemon_logged("Error reading message from infod"));
}

// The counter's get comes with the reader ahead in the middle of a message: after what earlier updates
// sent, before what the trigger sends, and every update handled in the order infod sent it.
TEST(DaemonLink, TheTriggerCounterGoesFirstAndUpdatesReadAroundItKeepTheirOrder) {
  Sandbox box;
  auto infod = start_against_raw_infod(box, enviro_rules(1));
  wait_for_normal(*infod);
  const std::string held_back = reading("60");
  infod->write_all(reading("99") + reading("50") + held_back.substr(0, 9));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // read up to the cut, then waited for
  infod->write_all(held_back.substr(9));
  const auto push = [](const std::string& key, const char* number, const std::string& value) {
    return "1" + RS + key + RS + number + RS + value;
  };
  const auto current = [&](const char* v) { return push(rule_path(1) + ".refs.ref1.curr_entry.status", "2", v); };
  const auto state = [&](const char* s) { return push(rule_path(1) + ".refs.ref1.status", "2", s); };
  const auto log = [&](const std::string& s, const std::string& value) {
    const std::string event = value.empty() ? "" : ", event=" + enviro_key(1) + ", value=" + value;
    return push("config.autoresponse.log", "0", "AR: name=rule1, index=1, ref=1, state=" + s + event);
  };
  const auto expect = [&](const Strings& messages) {
    for (const std::string& message : messages) EXPECT_EQ(message, rule_body(*infod));
  };
  ASSERT_EQ(kCounterGet, rule_body(*infod));
  infod->write_all(reading("70") + frame_of("5" + RS + kCounter + RS + "7") + reading("80"));
  expect({push(kCounter, "0", "8"), state("Triggered"), current("99"), log("Triggered", "99"), current("50"),
          current("60"), current("70"), current("80")});
  infod->write_all(reading("40") + reading("10") + reading("99"));
  expect({current("40"), state("Resolving"), current("10"), log("Resolving", "10"), state("Normal"), log("Normal", ""),
          kCounterGet});
  infod->write_all(frame_of("5" + RS + kCounter + RS + "8"));
  expect({push(kCounter, "0", "9"), state("Triggered"), current("99"), log("Triggered", "99")});
  infod.reset();
  EXPECT_EQ(1, box.daemon_exit());
}

// An infod that sends on and reads nothing: once more than 8 MiB waits the daemon ends, as after a failed write.
TEST(DaemonLink, AnInfodThatStopsReadingEndsTheDaemonOnceEightMebibytesWait) {
  Sandbox box;
  auto infod = start_against_raw_infod(box, enviro_rules(1));
  // Triggered, each update answers with its value: a kilobyte in, a kilobyte out.
  infod->write_all(reading("99"));
  std::string body;
  for (int i = 0; i < 10 && body != kCounterGet; ++i) body = rule_body(*infod);
  infod->write_all(frame_of("5" + RS + kCounter + RS + "0"));
  const size_t sent = flood(*infod, false);
  EXPECT_GT(sent, 6u << 20) << "the daemon stopped reading";
  EXPECT_LT(sent, 24u << 20) << "the daemon is still reading";
  EXPECT_EQ(1, box.daemon_exit());
  EXPECT_TRUE(box.daemon_logged("Error writing to infod"));
}

// The bodies of the whole frames that have come on fd within wait_ms, without waiting for more.
struct Arrived {
  Strings take(int wait_ms) {
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, wait_ms) > 0 && (n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0; wait_ms = 0) {
      frames.feed(buf, size_t(n));
    }
    Strings bodies;
    for (std::string_view body; frames.next(&body) == FrameReader::Status::kFrame;) bodies.emplace_back(body);
    return bodies;
  }
  int fd;
  FrameReader frames;
};

// Updates alternating above and below the threshold, each trigger reading the counter, which infod answers a
// second late: between the reads the loop handles a SIGHUP (its reload publishes the rule's new name) and the
// tick, and every update is handled in the order infod sent it (one below the threshold may be dropped while the
// reference is Normal; none above may).
TEST(DaemonLink, AFloodOfTriggersWhoseCounterReadsComeLateLeavesTheLoopToSignalsAndTheTickAndKeepsTheOrder) {
  Sandbox box;
  auto infod = start_against_raw_infod(box, enviro_rules(1));
  wait_for_normal(*infod);
  const std::string loaded = kStatusPush + "loaded.1" + RS, heartbeat = kStatusPush + "heartbeat" + RS;
  const std::string current = "1" + RS + rule_path(1) + ".refs.ref1.curr_entry.status" + RS + "2" + RS;
  Arrived arrived{infod->fd(), {}};
  Strings sent, handled;
  std::deque<SteadyClock::time_point> replies;
  bool flooding = true, reloaded = false, beat_since = false;
  const auto exchange = [&] {
    for (const std::string& body : arrived.take(10)) {
      if (body == kCounterGet) replies.push_back(SteadyClock::now() + std::chrono::seconds(flooding ? 1 : 0));
      if (body.rfind(loaded, 0) == 0 && body.find("renamed") != std::string::npos) reloaded = true;
      if (body.rfind(heartbeat, 0) == 0) beat_since = reloaded;
      // The reload carries the reference's state and publishes its current value once more; every value sent is
      // another, so only that stands twice in a row.
      const std::string value = body.rfind(current, 0) == 0 ? body.substr(current.size()) : "";
      if (!value.empty() && (handled.empty() || handled.back() != value)) handled.push_back(value);
    }
    for (; !replies.empty() && replies.front() <= SteadyClock::now(); replies.pop_front()) {
      ASSERT_TRUE(infod->write_all(frame_of("5" + RS + kCounter + RS + "7")));
    }
  };
  const auto start = SteadyClock::now();
  auto next = start;
  bool hup = false;
  while (!(reloaded && beat_since) && SteadyClock::now() < start + std::chrono::seconds(60)) {
    if (SteadyClock::now() >= next) {
      sent.push_back((sent.size() % 2 == 0 ? "31." : "20.") + std::to_string(sent.size()));
      ASSERT_TRUE(infod->write_all(reading(sent.back())));
      next += std::chrono::milliseconds(50);
    }
    if (!hup && SteadyClock::now() >= start + std::chrono::milliseconds(500)) {
      ConfigBuilder renamed;
      add_enviro_rule(renamed, 1, "renamed");
      box.write_config(renamed.set("config.autoresponse.total", 1));
      hup = kill(box.daemon_pid(), SIGHUP) == 0;
    }
    exchange();
  }
  EXPECT_TRUE(reloaded) << "no reload during the flood";
  EXPECT_TRUE(beat_since) << "no heartbeat after the reload during the flood";
  // The flood over and the counter answered at once, every update above the threshold comes through.
  flooding = false;
  const auto above = [](const Strings& values) {
    return std::count_if(values.begin(), values.end(), [](const std::string& v) { return v.rfind("31.", 0) == 0; });
  };
  for (const auto end = SteadyClock::now() + std::chrono::seconds(60);
       above(handled) < above(sent) && SteadyClock::now() < end;) {
    exchange();
  }
  EXPECT_EQ(above(sent), above(handled));
  auto in_sent = sent.begin();
  for (const std::string& value : handled) {
    in_sent = std::find(in_sent, sent.end(), value);
    ASSERT_NE(sent.end(), in_sent) << value << " handled out of order or twice";
    ++in_sent;
  }
  infod.reset();
  EXPECT_EQ(1, box.daemon_exit());
  expect_no_sanitizer_report(box.path("/daemon.log"));
}

// Counter reads never answered while infod sends on: what each read keeps waits unhandled, and once more than
// 8 MiB waits infod counts as gone.
TEST(DaemonLink, AnInfodThatNeverAnswersTheCounterWhileSendingOnEndsTheDaemonOnceEightMebibytesWaitUnhandled) {
  Sandbox box;
  auto infod = start_against_raw_infod(box, enviro_rules(1));
  wait_for_normal(*infod);
  EXPECT_GT(flood(*infod, true), 8u << 20);
  EXPECT_EQ(1, box.daemon_exit());
  EXPECT_TRUE(box.daemon_logged("Error reading from infod: more than 8 MiB read and not handled"));
  expect_no_sanitizer_report(box.path("/daemon.log"));
}

// The production binary under test: this build's, or one that a package installed
// (AR_INSTALLED_DAEMON; tools/test.sh names the one it installed into a private root).
Strings production_command() {
  const char* installed = getenv("AR_INSTALLED_DAEMON");
  return installed != nullptr && installed[0] != '\0' ? Strings{installed} : built_command("autoresponsed");
}

// In a mount namespace whose /var/run and /dev are the sandbox's: the fixed socket paths.
TEST(ProductionBinary, WithoutInfodExits255ThenSubscribesThroughTheFixedSocket) {
  if (!can_unshare()) GTEST_SKIP() << "needs root and mount namespaces";
  Sandbox box;
  std::filesystem::create_directory(box.path("/dev"));
  const Raw syslog(bound_socket(SOCK_DGRAM, box.path("/dev/log")));
  // The configuration file, which the platform library lets a development machine move, does not exist.
  const std::string script = "mount --bind '" + box.path("/dev") + "' /dev && mount --bind '" + box.path("/var/run") +
                             "' /var/run && exec " + shell_quote(production_command());
  const auto start = [&] {
    return spawn_unshared(script, box.path("/daemon.log"), {{"XMLDB_PATH", box.path("/config.xml")}});
  };

  const pid_t alone = start();
  // What is logged before the daemon's 5 s pause.
  const std::string logged = syslog.read_bytes(4096, 4000);
  EXPECT_NE(std::string::npos, logged.find("Could not open socket")) << logged;
  EXPECT_EQ(255, wait_exit(alone, 15000));

  ASSERT_TRUE(box.infod.start());
  const pid_t connected = start();
  EXPECT_TRUE(box.infod.logged("<- sub ard config.autoresponse.command"));
  box.infod.stop();
  EXPECT_EQ(1, wait_exit(connected));
}

// None of these reaches for infod (which is not there: that would take a 5 s pause and exit 255). The
// development daemon answers as the daemon does, without the root it needs to run.
TEST(ProductionBinary, HelpAndVersionAnswerAndOtherArgumentsAreRefused) {
  TempDir dir;
  const std::string out = dir.path() + "/out", err = dir.path() + "/err";
  const std::string usage = "usage: autoresponsed [--help | --version]\n",
                    dev_usage = "usage: AR_ROOT=DIR autoresponsed-dev [--help | --version]\n";
  const struct { bool dev; Strings args; int status; std::string out, err; } cases[] = {
      {false, {"--help"}, 0, usage + "\nThe automatic-response daemon", ""},
      {false, {"--version"}, 0, "autoresponsed " AR_PROJECT_VERSION "\n", ""},
      {false, {"-h"}, 2, "", usage},
      {false, {"--help", "x"}, 2, "", usage},
      {true, {"--help"}, 0, dev_usage + "\nThe automatic-response daemon for a development machine", ""},
      {true, {"--version"}, 0, "autoresponsed-dev " AR_PROJECT_VERSION "\n", ""},
      {true, {"-h"}, 2, "", dev_usage},
      {true, {"--version", "x"}, 2, "", dev_usage},
      {true, {}, 2, "", dev_usage},  // no AR_ROOT
  };
  for (const auto& k : cases) {
    unlink(err.c_str());
    const Ran r = run(k.dev ? built_command("autoresponsed-dev") : production_command(), k.args, out, err);
    EXPECT_EQ(k.status, r.status) << k.dev << ::testing::PrintToString(k.args);
    EXPECT_EQ(0u, r.out.rfind(k.out, 0)) << r.out;
    EXPECT_EQ(k.err, r.err);
  }
}

// Under the sanitizers this also proves the reloads leak nothing.
TEST(ReloadStorm, EveryStartedActionIsReapedAndReported) {
  Sandbox box;
  const std::string started = box.path("/started");
  write_file(box.path("/bin/act"), "#!/bin/sh\necho \"$1\" >> '" + started + "'\nsleep 0.05\n", 0755);
  // Two at a time, fewer than the triggers come: actions wait in the queue across reloads.
  ConfigBuilder c = enviro_rules(4).set("config.autoresponse.concurrent_actions", 2);
  for (int n = 1; n <= 4; ++n) {
    for (const std::string list : {"trigger_actions", "resolve_actions"})
      add_script(c, n, list, 1, list + std::to_string(n), box.path("/bin/act"), "$AR_NAME");
  }
  ASSERT_TRUE(box.start(c, "<- sub ard " + enviro_key(4)));

  Raw feed(box.infod.socket);
  const auto end = SteadyClock::now() + std::chrono::seconds(5);
  for (int round = 0; SteadyClock::now() < end; ++round) {
    kill(box.daemon_pid(), SIGHUP);
    feed.write_all(frame_of("1" + RS + enviro_key(1 + round % 4) + RS + "0" + RS + (round % 2 == 0 ? "35" : "20")));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(box.daemon_running());
  // However slow the machine, nothing is lost silently: each Triggered or Resolving state offers its one action
  // ("Queuing ..."), and each one offered ends in exactly one line: finished (and run), refused, skipped, evicted
  // or not started. A slow machine refuses more; it never loses one.
  std::string log;
  int states = 0, offered = 0, accounted = 0, finished = 0, run = 0;
  const auto agree = [&] {
    log = read_file(box.infod.log);
    states = count(log, ".status 2 Triggered\n") + count(log, ".status 2 Resolving\n");
    offered = count(log, "0 Queuing triggered action: ") + count(log, "0 Queuing resolve action: ");
    finished = count(log, "0 Finished action: ");
    accounted = finished + count(log, ", queuing failed\n") + count(log, ", skipped\n") +
                count(log, "0 Dropped action: ") + count(log, "0 Could not start action: ");
    run = count(read_file(started), "\n");
    return states > 0 && offered == states && accounted == offered && run == finished;
  };
  ASSERT_TRUE(eventually(agree, 180000)) << states << " states, " << offered << " offered, " << accounted
                                         << " accounted for (" << finished << " finished), " << run << " run";
  expect_clean_end(box);
}

}  // namespace
