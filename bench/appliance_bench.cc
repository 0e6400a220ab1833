// The daemon on the appliance's terms: the production program at its fixed
// paths in a private mount namespace (bench/appliance.h), against a small
// infod of the benchmark's own, on 10,000 environmental rules, each with an
// outlet action delayed 30 s, an e-mail action and one resolve action
// (bench/rule_file.h). Each figure is a ratio against a floor or a limit
// measured or fixed in the same run:
//
// - BM_Memory: resident memory per reference, database included: the
//   VmRSS of the daemon once its start has settled (every frame sent, every
//   start-up read answered) at 10,000 rules, less that at 10 rules, over the
//   references between them; against 1 KiB. db_B_per_rule is the
//   configuration database's share, the heap an opened database of the
//   same file holds in this process.
// - BM_FullReload: 20 reloads (SIGHUP) that each change an element of
//   every rule that nothing reads, so every rule is built again: the peak
//   (VmHWM over the start and the reloads) against the steady state
//   (VmRSS once the start settled), limit 1.5; and the daemon's CPU time
//   per reload, its traffic and its restart records included, against
//   expat alone parsing the same file in this thread (floor), limit 3.
// - BM_OneRuleReload: the same for reloads that each change one rule;
//   limit 2.
// - BM_Updates: ten triggered rules refreshing (readings that keep them
//   triggered, each answered by a push of the current value), 2,000
//   updates a batch: the updates per CPU second of the daemon against
//   those of a bare client that reads all that waits and answers with one
//   send (bench/batching.h), driven alike; at least 0.25.
// - BM_Start: the daemon's CPU time from its start until it has settled
//   (its rules loaded, every level's start-up read answered). With
//   AR_BASELINE_DAEMON naming another build's production daemon, that one
//   starts the same rules in the same run: ratio = this / that, at most
//   1.5, and traffic_same = 1 when both sent the same frames, in the same
//   order (the daemon's own status keys aside, whose values hold times and
//   pids).
//
// --brief runs each on 200 rules and 2 reloads: a check that they build
// and run, not a measurement; --rules=N and --reloads=N set them. For
// profiles, AR_BENCH_WRAPPER (words separated by blanks, such as
// "valgrind --tool=massif") is put in front of this build's daemon.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "appliance.h"
#include "batching.h"
#include "expat_floor.h"
#include "infod_peer.h"
#include "platform/xmldb.h"
#include "rule_file.h"

namespace {

int g_rules = 10000;
int g_reloads = 20;
constexpr int kSmallRules = 10;
constexpr int kSensors = 10;
constexpr int kBatch = 2000;

constexpr double kBytesPerReferenceLimit = 1024;
constexpr double kPeakLimit = 1.5;
constexpr double kFullReloadLimit = 3;
constexpr double kOneRuleReloadLimit = 2;
constexpr double kBatchingLimit = 0.25;
constexpr double kStartLimit = 1.5;

// The production daemon of another build, started as this build's is
// (through its emulator); empty when none is named.
Strings baseline_command() {
  const char* path = getenv("AR_BASELINE_DAEMON");
  if (path == nullptr || path[0] == '\0') return {};
  Strings command = e2e::built_command("autoresponsed");
  command.back() = path;
  // A cross build's emulator takes the program's path as argv[0] too.
  for (size_t i = 0; i + 1 < command.size(); ++i) {
    if (command[i] == "-0") command[i + 1] = path;
  }
  return command;
}

// This build's daemon, behind the wrapper AR_BENCH_WRAPPER names.
Strings own_command() {
  Strings command;
  const char* wrapper = getenv("AR_BENCH_WRAPPER");
  std::istringstream words(wrapper != nullptr ? wrapper : "");
  for (std::string word; words >> word;) command.push_back(word);
  if (command.empty()) return {};
  // Bound into the namespace by its path: found on PATH as the shell would.
  std::istringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin");
  for (std::string dir; command[0].find('/') == std::string::npos && std::getline(dirs, dir, ':');) {
    if (access((dir + "/" + command[0]).c_str(), X_OK) == 0) command[0] = dir + "/" + command[0];
  }
  const Strings built = e2e::built_command("autoresponsed");
  command.insert(command.end(), built.begin(), built.end());
  return command;
}

// The rule file whose every rule carries a note of text.
std::string noted(int rules, const std::string& text) {
  return bench::rule_file(rules, 0, [&](int) { return text; });
}

// The daemon started on rules and settled; false when it did not start.
bool start_settled(bench::ApplianceDaemon& daemon, const std::string& file, int rules, bool keeping = false) {
  if (!daemon.start(file, bench::last_normal(rules), keeping) || !daemon.infod().wait(1)) return false;
  daemon.infod().settle();
  return true;
}

// What this process holds from malloc, large blocks (mapped) included.
size_t heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// The heap that an opened database of the file at path holds.
double database_bytes(const std::string& path) {
  const size_t before = heap_bytes();
  xmldb_t* db = xmldb_open(path.c_str());
  const size_t after = heap_bytes();
  xmldb_close(db);
  return static_cast<double>(after - before);
}

void BM_Memory(benchmark::State& state) {
  for (auto _ : state) {
    bench::ApplianceDaemon small(own_command()), large(own_command());
    if (!start_settled(small, bench::rule_file(kSmallRules), kSmallRules) ||
        !start_settled(large, bench::rule_file(g_rules), g_rules)) {
      state.SkipWithError("a daemon did not start");
      return;
    }
    const long small_kb = small.rss_kb(), large_kb = large.rss_kb();
    const double per_ref = static_cast<double>(large_kb - small_kb) * 1024 / (g_rules - kSmallRules);
    state.counters["daemon_B_per_ref"] = per_ref;
    state.counters["limit_B_per_ref"] = kBytesPerReferenceLimit;
    state.counters["ratio"] = per_ref / kBytesPerReferenceLimit;
    state.counters["db_B_per_rule"] = database_bytes(large.config_path()) / g_rules;
    state.counters["small_kB"] = static_cast<double>(small_kb);
    state.counters["large_kB"] = static_cast<double>(large_kb);
    state.counters["exit_ok"] = small.stop() == 1 && large.stop() == 1;
  }
}

// Reloads of files made by edit (from the reload's number, 1 up), each
// timed against expat alone on the same file: the daemon's CPU seconds and
// the floor's, summed.
template <class Edit>
bool timed_reloads(bench::ApplianceDaemon& daemon, Edit edit, double* daemon_s, double* floor_s) {
  for (int i = 1; i <= g_reloads; ++i) {
    daemon.write_config(edit(i));
    const double t = bench::thread_cpu_seconds();
    if (!bench::expat_alone(daemon.config_path())) return false;
    *floor_s += bench::thread_cpu_seconds() - t;
    const double cpu = daemon.cpu_seconds();
    if (!daemon.reload()) return false;
    daemon.infod().settle(100);
    *daemon_s += daemon.cpu_seconds() - cpu;
  }
  return true;
}

void BM_FullReload(benchmark::State& state) {
  for (auto _ : state) {
    bench::ApplianceDaemon daemon(own_command());
    if (!start_settled(daemon, bench::rule_file(g_rules), g_rules)) {
      state.SkipWithError("the daemon did not start");
      return;
    }
    const long steady_kb = daemon.rss_kb();
    const uint64_t bytes = daemon.infod().bytes();
    double daemon_s = 0, floor_s = 0;
    // Every rule's note changes at every reload.
    const auto edit = [](int i) { return noted(g_rules, i % 2 == 1 ? "odd" : "even"); };
    if (!timed_reloads(daemon, edit, &daemon_s, &floor_s)) {
      state.SkipWithError("a reload did not end");
      return;
    }
    const long peak_kb = daemon.hwm_kb();
    state.counters["steady_kB"] = static_cast<double>(steady_kb);
    state.counters["peak_kB"] = static_cast<double>(peak_kb);
    state.counters["peak_ratio"] = static_cast<double>(peak_kb) / static_cast<double>(steady_kb);
    state.counters["peak_limit"] = kPeakLimit;
    state.counters["after_kB"] = static_cast<double>(daemon.rss_kb());
    state.counters["daemon_ms"] = daemon_s * 1e3 / g_reloads;
    state.counters["floor_ms"] = floor_s * 1e3 / g_reloads;
    state.counters["ratio"] = daemon_s / floor_s;
    state.counters["limit"] = kFullReloadLimit;
    state.counters["traffic_kB"] = static_cast<double>(daemon.infod().bytes() - bytes) / 1024 / g_reloads;
    state.counters["exit_ok"] = daemon.stop() == 1;
  }
}

void BM_OneRuleReload(benchmark::State& state) {
  for (auto _ : state) {
    bench::ApplianceDaemon daemon(own_command());
    if (!start_settled(daemon, bench::rule_file(g_rules), g_rules)) {
      state.SkipWithError("the daemon did not start");
      return;
    }
    const uint64_t bytes = daemon.infod().bytes();
    double daemon_s = 0, floor_s = 0;
    // The middle rule's note is the reload's number.
    const int middle = g_rules / 2;
    const auto edit = [middle](int i) {
      return bench::rule_file(g_rules, 0, [i, middle](int n) { return n == middle ? std::to_string(i) : ""; });
    };
    if (!timed_reloads(daemon, edit, &daemon_s, &floor_s)) {
      state.SkipWithError("a reload did not end");
      return;
    }
    state.counters["daemon_ms"] = daemon_s * 1e3 / g_reloads;
    state.counters["floor_ms"] = floor_s * 1e3 / g_reloads;
    state.counters["ratio"] = daemon_s / floor_s;
    state.counters["limit"] = kOneRuleReloadLimit;
    state.counters["traffic_kB"] = static_cast<double>(daemon.infod().bytes() - bytes) / 1024 / g_reloads;
    state.counters["exit_ok"] = daemon.stop() == 1;
  }
}

// The ports of the refreshing sensors, one per rule.
std::vector<int> sensor_ports() {
  std::vector<int> ports;
  for (int port = 1; port <= kSensors; ++port) ports.push_back(port);
  return ports;
}

std::string refresh_batch() {
  std::string batch;
  for (int i = 0; i < kBatch; ++i) {
    batch += bench::update(bench::sensor_key(1 + i % kSensors), i % 2 == 0 ? "40.5" : "41");
  }
  return batch;
}

// One batch written to infod, the seconds of cpu it cost; negative when the
// answers did not come.
template <class Cpu>
double answer_batch(bench::InfodEnd& infod, const std::string& batch, Cpu cpu) {
  infod.expect(".curr_entry.status");
  const double before = cpu();
  if (!infod.send(batch) || !infod.wait(kBatch, 30000)) return -1;
  return cpu() - before;
}

void BM_Updates(benchmark::State& state) {
  bench::ApplianceDaemon daemon(own_command());
  if (!start_settled(daemon, bench::rule_file(kSensors), kSensors)) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  for (const int port : sensor_ports()) {
    const auto trigger = [&] { return daemon.infod().send(bench::update(bench::sensor_key(port), "99")); };
    if (!daemon.infod().await("index=" + std::to_string(port) + ", ref=1, state=Triggered", trigger)) {
      state.SkipWithError("a rule did not trigger");
      return;
    }
  }
  daemon.infod().settle();
  // The batching client on one end of a socket pair, driven as the daemon is.
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("no socket pair");
    return;
  }
  const bench::Answers answers(sensor_ports());
  std::thread client([&answers, fd = fds[1]] { bench::batching_client(fd, &answers); });
  clockid_t client_clock;
  pthread_getcpuclockid(client.native_handle(), &client_clock);
  const auto client_cpu = [client_clock] {
    timespec t{};
    clock_gettime(client_clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  const std::string batch = refresh_batch();
  double daemon_s = 0, floor_s = 0;
  {
    bench::InfodEnd floor(fds[0]);
    for (auto _ : state) {
      const double d = answer_batch(daemon.infod(), batch, [&] { return daemon.cpu_seconds(); });
      const double f = answer_batch(floor, batch, client_cpu);
      if (d < 0 || f < 0) {
        state.SkipWithError("an answer did not come");
        break;
      }
      daemon_s += d;
      floor_s += f;
      state.SetIterationTime(d);
    }
  }
  client.join();
  close(fds[1]);
  const double updates = static_cast<double>(state.iterations()) * kBatch;
  state.counters["daemon"] = updates / daemon_s;
  state.counters["batching"] = updates / floor_s;
  state.counters["ratio"] = floor_s / daemon_s;
  state.counters["limit"] = kBatchingLimit;
}

// A kept body as the comparison of two daemons' traffic takes it: the
// daemon's own status keys hold times and pids, and are left out.
bool compared(const std::string& body) {
  return body.find("\x1e" "config.autoresponse.daemon.") == std::string::npos;
}

void BM_Start(benchmark::State& state) {
  const Strings baseline = baseline_command();
  const std::string file = bench::rule_file(g_rules);
  for (auto _ : state) {
    double seconds[2] = {};
    std::vector<std::string> traffic[2];
    for (int which = baseline.empty() ? 1 : 0; which < 2; ++which) {
      bench::ApplianceDaemon daemon(which == 0 ? baseline : own_command());
      if (!start_settled(daemon, file, g_rules, !baseline.empty())) {
        state.SkipWithError("a daemon did not start");
        return;
      }
      seconds[which] = daemon.cpu_seconds();
      for (std::string& body : daemon.infod().kept()) {
        if (compared(body)) traffic[which].push_back(std::move(body));
      }
      if (which == 1) state.counters["gets"] = static_cast<double>(daemon.infod().gets_answered());
      if (daemon.stop() != 1) state.counters["exit_ok"] = 0;
    }
    state.counters["start_ms"] = seconds[1] * 1e3;
    if (!baseline.empty()) {
      state.counters["baseline_ms"] = seconds[0] * 1e3;
      state.counters["ratio"] = seconds[1] / seconds[0];
      state.counters["limit"] = kStartLimit;
      state.counters["traffic_same"] = traffic[0] == traffic[1];
      state.counters["frames"] = static_cast<double>(traffic[1].size());
    }
  }
}

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullReload)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneRuleReload)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Updates)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Start)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--brief") == 0) {
      g_rules = 200;
      g_reloads = 2;
    } else if (std::strncmp(argv[i], "--rules=", 8) == 0) {
      g_rules = std::max(kSmallRules + 1, atoi(argv[i] + 8));
    } else if (std::strncmp(argv[i], "--reloads=", 10) == 0) {
      g_reloads = std::max(1, atoi(argv[i] + 10));
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
