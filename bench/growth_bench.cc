// No growth: the daemon's resident memory after a warm-up, against the
// same after a million updates and a thousand reloads (SIGHUP), on ten
// environmental rules that refresh. Between the two the rules are
// triggered again and refresh once more, so what a reload made is used.
//
// Counters: before_kb, after_kb, growth_kb = after - before.
#include <benchmark/benchmark.h>

#include <signal.h>

#include <fstream>
#include <string>

#include "infod_peer.h"
#include "rule_file.h"

namespace {

constexpr int kRules = 10;
constexpr int kBatch = 2000;

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  }
  return 0;
}

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
    if (kill(daemon.pid(), SIGHUP) != 0 || !daemon.read_until("index=" + std::to_string(kRules) + ", ref=1, state=Normal")) {
      return false;
    }
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
    before = rss_kb(daemon.pid());
    if (!updates(daemon, batch, 1000000) || !reloads(daemon, 1000) || !trigger_all(daemon) ||
        !updates(daemon, batch, 100000)) {
      state.SkipWithError("the run failed");
      return;
    }
    after = rss_kb(daemon.pid());
  }
  state.counters["before_kb"] = static_cast<double>(before);
  state.counters["after_kb"] = static_cast<double>(after);
  state.counters["growth_kb"] = static_cast<double>(after - before);
}

BENCHMARK(BM_Growth)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
