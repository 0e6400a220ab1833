// System calls of the real daemon per lone update: one reading of a
// triggered rule's sensor that keeps it triggered, sent alone, and its one
// answer (the current value) awaited before the next. strace counts every call the daemon makes in a run of them,
// attached after start-up. The least a lone update can cost is three: a
// wait that reports the socket readable, one read and one send.
//
// The configuration database stand-in's freshness check (an ioctl on its
// watch, one per configuration read) is the platform library's cost, not
// the daemon's: it is counted apart.
//
// Counters, per update: own (every call but the stand-in's), least = 3,
// ratio = own / least, xmldb (the stand-in's ioctls); the label lists the
// calls by name.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "infod_peer.h"
#include "rule_file.h"

namespace {

constexpr int kUpdates = 2000;
constexpr int kRules = 10;

// strace attached to pid, its summary going to out; -1 when it cannot run.
pid_t attach_strace(pid_t pid, const std::string& out, const std::string& err) {
  const std::string target = std::to_string(pid);
  return e2e::spawn("/usr/bin/strace", {"-c", "-o", out, "-p", target}, -1, err);
}

bool traced(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 10, "TracerPid:") == 0) return std::stol(line.substr(10)) != 0;
  }
  return false;
}

// The calls column of strace's summary, by system call name.
std::map<std::string, long> read_summary(const std::string& path) {
  std::map<std::string, long> calls;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    // "% time seconds usecs/call calls [errors] syscall"
    if (w.size() < 5 || w.back() == "total" || w.back() == "syscall" || w[0].find('-') == 0) continue;
    calls[w.back()] = std::stol(w[3]);
  }
  return calls;
}

void BM_SyscallsPerUpdate(benchmark::State& state) {
  if (access("/usr/bin/strace", X_OK) != 0) {
    state.SkipWithError("strace is not installed");
    return;
  }
  bench::InfodPeer daemon;
  if (!daemon.start(bench::rule_file(kRules), kRules)) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  if (!daemon.trigger(5)) {
    state.SkipWithError("the rule did not trigger");
    return;
  }
  const std::string update = bench::update("config.ports.port5.enviro.temp", "40.5");
  const std::string answer = "autoresponse5.refs.ref1.curr_entry.status";
  std::map<std::string, long> calls;
  for (auto _ : state) {
    const std::string summary = daemon.box().path("/strace.txt");
    const pid_t strace = attach_strace(daemon.pid(), summary, daemon.box().path("/strace.err"));
    if (strace < 0 || !e2e::eventually([&] { return traced(daemon.pid()); })) {
      state.SkipWithError("strace could not attach");
      return;
    }
    for (int i = 0; i < kUpdates; ++i) {
      if (!daemon.send(update) || !daemon.read_until(answer)) {
        state.SkipWithError("no answer");
        return;
      }
    }
    kill(strace, SIGINT);
    e2e::wait_exit(strace);
    calls = read_summary(summary);
  }
  // A wait that was under way when strace attached or detached is not the
  // run's: round to whole calls per update only in the label.
  double own = 0;
  std::string label;
  for (const auto& [name, count] : calls) {
    const double per = static_cast<double>(count) / kUpdates;
    char text[64];
    snprintf(text, sizeof text, "%s%s %.2f", label.empty() ? "" : ", ", name.c_str(), per);
    label += text;
    if (name != "ioctl") own += per;
  }
  state.counters["own"] = own;
  state.counters["least"] = 3;
  state.counters["ratio"] = own / 3;
  state.counters["xmldb"] = calls.count("ioctl") != 0 ? static_cast<double>(calls["ioctl"]) / kUpdates : 0;
  state.SetLabel(label);
}

BENCHMARK(BM_SyscallsPerUpdate)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
