// No growth: the daemon's resident memory after a warm-up, against the
// same after a million updates and a thousand reloads (SIGHUP), on ten
// environmental rules that refresh. Between the two the rules are
// triggered again and refresh once more, so what a reload made is used.
//
// Counters: before_kb, after_kb, growth_kb = after - before.
#include <benchmark/benchmark.h>

#include <string>

#include "infod_peer.h"
#include "rule_file.h"

namespace {

constexpr int kRules = 10;
constexpr int kBatch = 2000;

bool trigger_all(bench::InfodPeer& daemon) {
  for (int port = 1; port <= kRules; ++port) {
    if (!daemon.trigger(port)) return false;
  }
  return true;
}

bool updates(bench::InfodPeer& daemon, const std::string& batch, long count) {
  for (long done = 0; done < count; done += kBatch) {
    if (bench::drive(daemon.fd(), batch, kBatch, ".curr_entry.status") < 0) return false;
  }
  return true;
}

bool reloads(bench::InfodPeer& daemon, int count) {
  for (int i = 0; i < count; ++i) {
    if (!daemon.reload(bench::last_normal(kRules))) return false;
  }
  return true;
}

void BM_Growth(benchmark::State& state) {
  bench::InfodPeer daemon;
  if (!daemon.start(bench::rule_file(kRules), kRules)) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  std::string batch;
  for (int i = 0; i < kBatch; ++i) {
    batch += bench::update("config.ports.port" + std::to_string(1 + i % kRules) + ".enviro.temp", i % 2 ? "41" : "40.5");
  }
  long before = 0, after = 0;
  for (auto _ : state) {
    if (!trigger_all(daemon) || !updates(daemon, batch, 100000) || !reloads(daemon, 20) || !trigger_all(daemon) ||
        !updates(daemon, batch, 100000)) {
      state.SkipWithError("the warm-up failed");
      return;
    }
    before = daemon.rss_kb();
    if (!updates(daemon, batch, 1000000) || !reloads(daemon, 1000) || !trigger_all(daemon) ||
        !updates(daemon, batch, 100000)) {
      state.SkipWithError("the run failed");
      return;
    }
    after = daemon.rss_kb();
  }
  state.counters["before_kb"] = static_cast<double>(before);
  state.counters["after_kb"] = static_cast<double>(after);
  state.counters["growth_kb"] = static_cast<double>(after - before);
}

BENCHMARK(BM_Growth)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
