// Loads of 10,000 rules against their floor, expat alone reading and
// parsing the same file in the same run (no handlers: only what any reader
// of the file must do), on an in-process daemon whose traffic to infod is
// formatted and queued as the daemon's is:
//
// - BM_Reload: every rule built afresh (unload_config, then load_config),
//   as a reload that changes every rule does. Its split is counted too: the
//   configuration database opening the file (parse and tree), and the
//   loader's share (everything else, reads included).
// - BM_ReloadOneChanged: load_config, as SIGHUP runs it, after an edit of
//   one rule: the other 9,999 are kept as they run.
// - BM_Start: a start after a restart, each rule taking up its kept record
//   (open_config, engine_resume), against a start from nothing (load_config
//   on an empty daemon) in the same run; the gets that read the records
//   back are infod's to answer and not counted.
//
// Counters, in milliseconds per load: daemon_ms, floor_ms, ratio = daemon
// / floor, db_ms (xmldb_open and xmldb_close alone), db_ratio = db /
// floor, loader_ms = daemon - db; for BM_Start start_ms, fresh_ms and
// ratio = start / fresh. Every figure is CPU time of this thread (system
// time included), so that other processes sharing the machine do not end
// up in one figure and not in another.
#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <fstream>
#include <string>

#include "daemon/reload.h"
#include "engine/start.h"
#include "expat_floor.h"
#include "model/autoresponse.h"
#include "platform/xmldb.h"
#include "rule_file.h"
#include "support/test_daemon.h"

namespace {

// The CPU time this thread has used, as a clock.
struct CpuClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<CpuClock>;
  static constexpr bool is_steady = true;
  static time_point now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
  }
};

constexpr int kRules = 10000;

double seconds_since(CpuClock::time_point start) {
  return std::chrono::duration<double>(CpuClock::now() - start).count();
}

using bench::expat_alone;

// The daemon with file's rules loaded; false (the benchmark skipped) when
// they did not load.
bool load_rules(TestDaemon& daemon, const std::string& file, benchmark::State& state) {
  std::ofstream(daemon.dir() + "/config.xml") << file;
  if (daemon.load() == 0 && daemon.ctx.config->checks.size() == kRules) return true;
  state.SkipWithError("the rules did not load");
  return false;
}

// The seconds load takes on this thread, the traffic and log of the one
// before dropped first.
template <class Load>
double timed(TestDaemon& daemon, Load load) {
  link_drop_queued(&daemon.ctx.link);
  daemon.logs.clear();
  const auto t = CpuClock::now();
  load();
  return seconds_since(t);
}

void BM_Reload(benchmark::State& state) {
  TestDaemon daemon;
  const std::string path = daemon.dir() + "/config.xml";
  if (!load_rules(daemon, bench::rule_file(kRules), state)) return;
  double floor_s = 0, daemon_s = 0, db_s = 0;
  for (auto _ : state) {
    auto t = CpuClock::now();
    if (!expat_alone(path)) {
      state.SkipWithError("expat failed");
      return;
    }
    floor_s += seconds_since(t);

    t = CpuClock::now();
    xmldb_close(xmldb_open(nullptr));
    db_s += seconds_since(t);

    const double reload = timed(daemon, [&] {
      unload_config(&daemon.ctx);
      load_config(&daemon.ctx);
    });
    daemon_s += reload;
    state.SetIterationTime(reload);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["daemon_ms"] = daemon_s * 1e3 / n;
  state.counters["floor_ms"] = floor_s * 1e3 / n;
  state.counters["ratio"] = daemon_s / floor_s;
  state.counters["db_ms"] = db_s * 1e3 / n;
  state.counters["db_ratio"] = db_s / floor_s;
  state.counters["loader_ms"] = (daemon_s - db_s) * 1e3 / n;
}

void BM_ReloadOneChanged(benchmark::State& state) {
  TestDaemon daemon;
  const std::string path = daemon.dir() + "/config.xml";
  const std::string file = bench::rule_file(kRules);
  const size_t name = file.find("<name>rule5000</name>") + 6;
  if (!load_rules(daemon, file, state)) return;
  double floor_s = 0, daemon_s = 0;
  int edits = 0;
  for (auto _ : state) {
    std::string edited = file;
    edited.replace(name, 8, "rule" + std::to_string(edits++ % 9000 + 1000));
    std::ofstream(path) << edited;
    auto t = CpuClock::now();
    if (!expat_alone(path)) {
      state.SkipWithError("expat failed");
      return;
    }
    floor_s += seconds_since(t);
    const double reload = timed(daemon, [&] { load_config(&daemon.ctx); });
    daemon_s += reload;
    state.SetIterationTime(reload);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["daemon_ms"] = daemon_s * 1e3 / n;
  state.counters["floor_ms"] = floor_s * 1e3 / n;
  state.counters["ratio"] = daemon_s / floor_s;
}

void BM_Start(benchmark::State& state) {
  TestDaemon daemon;
  if (!load_rules(daemon, bench::rule_file(kRules), state)) return;
  daemon.take_sent();
  double fresh_s = 0, start_s = 0;
  for (auto _ : state) {
    unload_config(&daemon.ctx);
    fresh_s += timed(daemon, [&] { load_config(&daemon.ctx); });
    unload_config(&daemon.ctx);
    const double start = timed(daemon, [&] {
      open_config(&daemon.ctx);
      engine_start(daemon.ctx.engine, &daemon.ctx.config, std::move(daemon.ctx.pending));
    });
    start_s += start;
    state.SetIterationTime(start);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["start_ms"] = start_s * 1e3 / n;
  state.counters["fresh_ms"] = fresh_s * 1e3 / n;
  state.counters["ratio"] = start_s / fresh_s;
}

BENCHMARK(BM_Reload)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_ReloadOneChanged)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_Start)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
