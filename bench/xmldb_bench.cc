// A configuration read at 10,000 rules against the same read at 10 rules,
// in the same run: the reads an environmental check makes for each update
// (its check type, threshold and hysteresis, and the comparison it leaves
// unset) on the middle rule, each with its freshness check.
//
// Counters: daemon_ns per read at 10,000 rules, floor_ns at 10 rules,
// ratio = daemon / floor, and reads_per_s at 10,000 rules.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "rule_file.h"
#include "platform/xmldb.h"
#include "support/e2e.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kReads = 100000;

struct Database {
  explicit Database(int rules) {
    e2e::write_file(dir.path() + "/config.xml", bench::rule_file(rules));
    db = xmldb_open((dir.path() + "/config.xml").c_str());
    prefix = "config.autoresponse.autoresponse" + std::to_string(rules / 2 + 1);
  }
  ~Database() { xmldb_close(db); }

  // Seconds for kReads reads; sum keeps them from being optimised away.
  double time_reads(size_t* sum) const {
    static const char* const kKeys[] = {"enviro.check_type", "enviro.trigger_val", "enviro.hysteresis",
                                        "enviro.comparison"};
    const auto t = SteadyClock::now();
    for (int i = 0; i < kReads; ++i) *sum += strlen(xmldb_getstring(db, prefix.c_str(), kKeys[i % 4]));
    return std::chrono::duration<double>(SteadyClock::now() - t).count();
  }

  e2e::TempDir dir;
  xmldb_t* db = nullptr;
  std::string prefix;
};

void BM_Read(benchmark::State& state) {
  const Database small(10), large(10000);
  if (small.db == nullptr || large.db == nullptr) {
    state.SkipWithError("no database");
    return;
  }
  double floor_s = 0, daemon_s = 0;
  size_t sum = 0;
  for (auto _ : state) {
    floor_s += small.time_reads(&sum);
    const double t = large.time_reads(&sum);
    daemon_s += t;
    state.SetIterationTime(t);
  }
  benchmark::DoNotOptimize(sum);
  const double reads = static_cast<double>(state.iterations()) * kReads;
  state.counters["daemon_ns"] = daemon_s * 1e9 / reads;
  state.counters["floor_ns"] = floor_s * 1e9 / reads;
  state.counters["ratio"] = daemon_s / floor_s;
  state.counters["reads_per_s"] = reads / daemon_s;
}

BENCHMARK(BM_Read)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
