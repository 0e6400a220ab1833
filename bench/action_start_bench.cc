// Action start: from the update that triggers a rule to the first
// instruction of the action's program, in the real daemon, against a bare
// vfork and exec of the same program from this process, in the same run.
// The program (exec_stamp, linked statically) writes the monotonic clock to
// a FIFO as soon as it runs. Each round triggers the rule, answers its
// trigger counter's get, waits for the child to be reaped and resolves the
// rule back to Normal.
//
// Counters, medians in microseconds: daemon_us, floor_us, ratio = daemon /
// floor; and platform_call_us, the daemon's way of starting a program
// (brimvale_proc_exec_env_nowait) called from here, which shows what of the
// difference is the start itself.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "infod_peer.h"
#include "platform/proc_exec.h"
#include "support/test_daemon.h"

extern char** environ;

namespace {

const std::string kStamp = std::string(AR_BUILD_DIR) + "/exec_stamp";

int64_t now_ns() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The stamp the next program writes; -1 when none comes within 5 s.
int64_t read_stamp(int fifo) {
  pollfd p{fifo, POLLIN, 0};
  int64_t ns = -1;
  if (poll(&p, 1, 5000) != 1 || read(fifo, &ns, sizeof ns) != static_cast<ssize_t>(sizeof ns)) return -1;
  return ns;
}

// The floor: vfork and exec, nothing else.
__attribute__((noinline)) pid_t bare_start(char* const argv[]) {
  const pid_t pid = vfork();
  if (pid == 0) {
    execve(argv[0], argv, environ);
    _exit(127);
  }
  return pid;
}

std::string config(const std::string& fifo) {
  ConfigBuilder c;
  const std::string p = "config.autoresponse.autoresponse1";
  c.set("config.autoresponse.total", 1);
  c.set(p + ".name", "rule1").set(p + ".check_type", "environmental");
  c.set(p + ".enviro.check_type", "temp").set(p + ".enviro.dev_ref", "config.ports.port1.enviro");
  c.set(p + ".enviro.trigger_val", "30").set(p + ".enviro.hysteresis", "1");
  c.set(p + ".trigger_actions.total", 1);
  c.set(p + ".trigger_actions.action1.name", "stamp").set(p + ".trigger_actions.action1.action_type", "custom");
  c.set(p + ".trigger_actions.action1.custom.script", kStamp);
  c.set(p + ".trigger_actions.action1.custom.args.total", 1).set(p + ".trigger_actions.action1.custom.args.arg1", fifo);
  return c.xml();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ActionStart(benchmark::State& state) {
  bench::InfodPeer daemon;
  const std::string fifo_path = daemon.box().path("/stamp.fifo");
  // Opened for reading and writing, so it never reports end of file.
  const int fifo = mkfifo(fifo_path.c_str(), 0600) == 0 ? open(fifo_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
  if (fifo < 0 || !daemon.start(config(fifo_path), 1)) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  const std::string trigger = bench::update("config.ports.port1.enviro.temp", "99");
  const std::string resolve = bench::update("config.ports.port1.enviro.temp", "10");
  const std::string counter = "config.ports.port1.enviro.count.temp";
  const std::string counter_reply = bench::no_value(counter);
  char* const argv[] = {const_cast<char*>(kStamp.c_str()), const_cast<char*>(fifo_path.c_str()), nullptr};

  // Microseconds of each round; the medians count, as the machine's other
  // work comes and goes.
  std::vector<double> daemon_us, floor_us, platform_us;
  for (auto _ : state) {
    int64_t t0 = now_ns();
    if (!daemon.send(trigger)) break;
    int64_t t1 = read_stamp(fifo);
    if (t1 < 0 || !daemon.read_until(bench::get_of(counter)) || !daemon.send(counter_reply) ||
        !daemon.read_until("Finished action: stamp with status 0") || !daemon.send(resolve) ||
        !daemon.read_until("state=Normal")) {
      state.SkipWithError("the action did not run");
      return;
    }
    daemon_us.push_back(static_cast<double>(t1 - t0) / 1e3);
    state.SetIterationTime(static_cast<double>(t1 - t0) * 1e-9);

    for (int way = 0; way < 2; ++way) {
      t0 = now_ns();
      const pid_t pid = way == 0 ? bare_start(argv) : brimvale_proc_exec_env_nowait(argv[0], argv, nullptr, 2);
      t1 = read_stamp(fifo);
      int status = 0;
      waitpid(pid, &status, 0);
      if (t1 < 0) {
        state.SkipWithError("a start from here failed");
        return;
      }
      (way == 0 ? floor_us : platform_us).push_back(static_cast<double>(t1 - t0) / 1e3);
    }
  }
  state.counters["daemon_us"] = median(daemon_us);
  state.counters["floor_us"] = median(floor_us);
  state.counters["ratio"] = median(daemon_us) / median(floor_us);
  state.counters["platform_call_us"] = median(platform_us);
  close(fifo);
}

BENCHMARK(BM_ActionStart)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
