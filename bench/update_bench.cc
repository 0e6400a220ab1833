// The cost of one infod update in the real daemon, against a floor
// measured in the same run: a bare reader of the same socket traffic that
// only frames and splits each message. Run with 10 and with 10,000 rules;
// each batch of updates is routed to one rule's sensor and discarded there
// (a reading below its threshold), the common case on an appliance.
//
// Counters: floor_ns and daemon_ns per update, ratio = daemon / floor, and
// the daemon's resident memory after loading, rss_kb.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/link.h"
#include "support/e2e.h"
#include "support/rules.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;

constexpr int kBatch = 2000;

std::string update(const std::string& key, const std::string& value) {
  return frame(std::string("8") + e2e::kRS + key + e2e::kRS + "0" + e2e::kRS + "1700000000000" + e2e::kRS + value + "\r\n");
}

// Reads whole frames from fd until a frame whose body contains stop.
bool read_until(int fd, const std::string& stop, std::string* carry) {
  char buf[65536];
  while (true) {
    size_t used = 0;
    while (carry->size() - used >= 4) {
      uint32_t len;
      memcpy(&len, carry->data() + used, 4);
      len = ntohl(len);
      if (carry->size() - used < 4 + len) break;
      const bool found = carry->compare(used + 4, len, stop) == 0 ||
                         carry->substr(used + 4, len).find(stop) != std::string::npos;
      used += 4 + len;
      if (found) {
        carry->erase(0, used);
        return true;
      }
    }
    carry->erase(0, used);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    carry->append(buf, static_cast<size_t>(n));
  }
}

// The floor: frames and splits every message, as any reader must.
void bare_reader(int fd, std::atomic<int>* handled) {
  std::vector<char> body;
  while (true) {
    unsigned char header[4];
    size_t got = 0;
    while (got < 4) {
      const ssize_t n = read(fd, header + got, 4 - got);
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
    uint32_t len;
    memcpy(&len, header, 4);
    len = ntohl(len);
    body.resize(len + 1);
    got = 0;
    while (got < len) {
      const ssize_t n = read(fd, body.data() + got, len - got);
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
    body[len] = '\0';
    UpdateFields f;
    link_split_fields(body.data(), &f);
    benchmark::DoNotOptimize(f);
    handled->fetch_add(1, std::memory_order_release);
  }
}

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void BM_Update(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  Sandbox box;
  ConfigBuilder c;
  c.set("config.autoresponse.total", rules);
  for (int n = 1; n <= rules; ++n) add_enviro_rule(c, n);
  box.write_config(c);

  const std::string path = box.path("/var/run/infod-sock");
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener, 1);
  box.start_daemon();
  const int daemon = accept(listener, nullptr, nullptr);
  std::string carry;
  // Start-up is done once the last rule has gone to Normal.
  if (!read_until(daemon, "index=" + std::to_string(rules) + ", ref=1, state=Normal", &carry)) {
    state.SkipWithError("daemon did not start");
    return;
  }
  state.counters["rss_kb"] = static_cast<double>(rss_kb(box.daemon_pid()));

  // Rule 1 is put into Triggered once (its trigger counter's get is
  // answered); from then on each of its refreshes pushes the value, which
  // marks the end of a batch.
  const std::string w = update(enviro_key(1), "99");
  if (write(daemon, w.data(), w.size()) < 0 || !read_until(daemon, std::string("4") + e2e::kRS, &carry)) {
    state.SkipWithError("no counter request");
    return;
  }
  const std::string reply = frame(std::string("5") + e2e::kRS + "config.ports.port1.enviro.count.temp");
  if (write(daemon, reply.data(), reply.size()) < 0) return;

  // The batch: readings below threshold for the middle rule's sensor.
  const int target = rules / 2 + 1;
  std::string batch;
  for (int i = 0; i < kBatch; ++i) batch += update(enviro_key(target), "21.5");

  int pair[2];
  socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
  std::atomic<int> handled{0};
  std::thread floor_thread(bare_reader, pair[1], &handled);

  double floor_ns = 0, daemon_ns = 0;
  int round = 0;
  for (auto _ : state) {
    // Floor: the same bytes through a bare reader.
    const int before = handled.load();
    auto t0 = Clock::now();
    size_t off = 0;
    while (off < batch.size()) {
      const ssize_t n = write(pair[0], batch.data() + off, batch.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    while (handled.load(std::memory_order_acquire) < before + kBatch) std::this_thread::yield();
    auto t1 = Clock::now();
    floor_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();

    // Daemon: the batch, then rule 1's marker refresh.
    const std::string marker = "98." + std::to_string(++round);
    const std::string all = batch + update(enviro_key(1), marker);
    t0 = Clock::now();
    std::thread writer([&] {
      size_t o = 0;
      while (o < all.size()) {
        const ssize_t n = write(daemon, all.data() + o, all.size() - o);
        if (n <= 0) break;
        o += static_cast<size_t>(n);
      }
    });
    const bool ok = read_until(daemon, marker, &carry);
    writer.join();
    t1 = Clock::now();
    if (!ok) {
      state.SkipWithError("daemon stopped answering");
      break;
    }
    daemon_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  close(pair[0]);
  floor_thread.join();
  close(pair[1]);
  const double updates = static_cast<double>(state.iterations()) * kBatch;
  if (updates > 0) {
    state.counters["floor_ns"] = floor_ns / updates;
    state.counters["daemon_ns"] = daemon_ns / updates;
    state.counters["ratio"] = daemon_ns / floor_ns;
  }
  state.SetItemsProcessed(static_cast<int64_t>(updates));
  close(daemon);
  close(listener);
}

BENCHMARK(BM_Update)->Arg(10)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
