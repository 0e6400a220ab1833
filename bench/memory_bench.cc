// Resident memory of the real daemon, against its limits.
//
// BM_Memory: per reference at 10,000 rules of one reference each, against
// the limit of 2 KiB: the resident set of a daemon that has loaded them and
// sent every start-up frame, minus that of one started on an empty
// configuration, divided by the references. The configuration database is
// part of it; its own share is counted apart in this process, as the heap
// that an opened database of the same file holds.
// Counters: daemon_B_per_ref, limit_B_per_ref, ratio = daemon / limit,
// db_B_per_rule, and the two resident sets, loaded_kB and empty_kB.
//
// BM_ReloadGrowth: what 1,000 reloads (SIGHUP, each awaited to the status
// that ends it) of 1,000 rules add to the resident set, after ten reloads
// that let the heap settle; the limit is no growth beyond one page per 100
// reloads.
// Counters: growth_kB, limit_kB, ratio = growth / limit, and the resident
// sets before and after, settled_kB and final_kB.
//
// BM_CmsFanOut: what central management adds per rule and node, at 2,000
// rules and 1,024 nodes (each rule runs an action per node in both of its
// lists): the resident set of a daemon that has loaded them, minus that of
// one loaded with the same rules and central management off, divided by
// rules times nodes; the limit is 16 bytes.
// Counters: B_per_rule_node, limit_B, ratio, and the two resident sets,
// cms_kB and plain_kB.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>

#include "infod_peer.h"
#include "platform/xmldb.h"
#include "rule_file.h"
#include "support/e2e.h"

namespace {

constexpr int kRules = 10000;
constexpr double kLimitBytes = 2048;

constexpr int kCmsRules = 2000;
constexpr int kCmsNodes = 1024;
constexpr double kCmsLimitBytes = 16;

constexpr int kGrowthRules = 1000;
constexpr int kSettleReloads = 10;
constexpr int kGrowthReloads = 1000;
constexpr double kGrowthLimitKb = 4.0 * kGrowthReloads / 100;

// What this process holds from malloc, large blocks (mapped) included.
size_t heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// The resident set of a daemon once it has sent the frame holding marker;
// 0 on failure.
long loaded_rss_kb(const std::string& config, const std::string& marker) {
  bench::InfodPeer peer;
  return peer.start(config, marker) ? peer.rss_kb() : 0;
}

void BM_Memory(benchmark::State& state) {
  const std::string rules = bench::rule_file(kRules);
  for (auto _ : state) {
    const long empty = loaded_rss_kb(bench::rule_file(0), "config.autoresponse.command");
    const long loaded = loaded_rss_kb(rules, bench::last_normal(kRules));
    if (empty == 0 || loaded == 0) {
      state.SkipWithError("a daemon did not start");
      return;
    }

    e2e::TempDir dir;
    const std::string path = dir.path() + "/config.xml";
    e2e::write_file(path, rules);
    const size_t before = heap_bytes();
    xmldb_t* db = xmldb_open(path.c_str());
    const size_t after = heap_bytes();
    xmldb_close(db);

    const double per_ref = static_cast<double>(loaded - empty) * 1024 / kRules;
    state.counters["daemon_B_per_ref"] = per_ref;
    state.counters["limit_B_per_ref"] = kLimitBytes;
    state.counters["ratio"] = per_ref / kLimitBytes;
    state.counters["db_B_per_rule"] = static_cast<double>(after - before) / kRules;
    state.counters["loaded_kB"] = static_cast<double>(loaded);
    state.counters["empty_kB"] = static_cast<double>(empty);
  }
}

// A reload of an unedited file keeps every rule and sends nothing about
// them: what ends one is the daemon's status naming its load's number.
std::string load_number(int n) { return "config.autoresponse.daemon.reload.number\x1e" "0\x1e" + std::to_string(n); }

void BM_ReloadGrowth(benchmark::State& state) {
  for (auto _ : state) {
    // A log line per reference and reload would fill the disk, not memory.
    bench::InfodPeer peer;
    bool ok = peer.start(bench::rule_file(kGrowthRules), bench::last_normal(kGrowthRules), "/dev/null");
    int loads = 1;
    for (int i = 0; ok && i < kSettleReloads; ++i) ok = peer.reload(load_number(++loads));
    const long settled = peer.rss_kb();
    for (int i = 0; ok && i < kGrowthReloads; ++i) ok = peer.reload(load_number(++loads));
    const long final = peer.rss_kb();
    if (!ok || settled == 0 || final == 0) {
      state.SkipWithError("the daemon did not reload");
      return;
    }
    const double growth = static_cast<double>(final - settled);
    state.counters["growth_kB"] = growth;
    state.counters["limit_kB"] = kGrowthLimitKb;
    state.counters["ratio"] = growth / kGrowthLimitKb;
    state.counters["settled_kB"] = static_cast<double>(settled);
    state.counters["final_kB"] = static_cast<double>(final);
  }
}

void BM_CmsFanOut(benchmark::State& state) {
  const std::string marker = bench::last_normal(kCmsRules);
  for (auto _ : state) {
    const long plain = loaded_rss_kb(bench::rule_file(kCmsRules), marker);
    const long cms = loaded_rss_kb(bench::rule_file(kCmsRules, kCmsNodes), marker);
    if (plain == 0 || cms == 0) {
      state.SkipWithError("a daemon did not start");
      return;
    }
    const double per = static_cast<double>(cms - plain) * 1024 / (double(kCmsRules) * kCmsNodes);
    state.counters["B_per_rule_node"] = per;
    state.counters["limit_B"] = kCmsLimitBytes;
    state.counters["ratio"] = per / kCmsLimitBytes;
    state.counters["cms_kB"] = static_cast<double>(cms);
    state.counters["plain_kB"] = static_cast<double>(plain);
  }
}

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CmsFanOut)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReloadGrowth)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
