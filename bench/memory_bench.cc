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
// BM_ReloadGrowth: what 1,000 reloads (SIGHUP, each awaited to its last
// frame) of 1,000 rules add to the resident set, after ten reloads that let
// the heap settle; the limit is no growth beyond one page per 100 reloads.
// Counters: growth_kB, limit_kB, ratio = growth / limit, and the resident
// sets before and after, settled_kB and final_kB.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "rule_file.h"
#include "platform/xmldb.h"
#include "support/e2e.h"

namespace {

constexpr int kRules = 10000;
constexpr double kLimitBytes = 2048;

constexpr int kGrowthRules = 1000;
constexpr int kSettleReloads = 10;
constexpr int kGrowthReloads = 1000;
constexpr double kGrowthLimitKb = 4.0 * kGrowthReloads / 100;

long rss_kb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::stol(line.substr(6));
  }
  return 0;
}

// What this process holds from malloc, large blocks (mapped) included.
size_t heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// The development daemon on a configuration, with this process as its
// infod: it accepts the daemon's connection and reads what it sends.
class DaemonPeer {
 public:
  // Starts the daemon on config; its log goes to log_path, or into the sandbox.
  explicit DaemonPeer(const std::string& config, const char* log_path = nullptr) {
    e2e::write_file(box_.path("/etc/config/config.xml"), config);
    const std::string path = box_.path("/var/run/infod-sock");
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener_, 1) != 0) return;
    box_.daemon = e2e::spawn_built("autoresponsed-dev", {}, -1, log_path ? log_path : box_.path("/daemon.log"),
                                   {{"AR_ROOT", box_.path("")}, {"XMLDB_PATH", box_.path("/etc/config/config.xml")}});
    if (box_.daemon > 0) fd_ = accept(listener_, nullptr, nullptr);
  }

  ~DaemonPeer() {
    if (fd_ >= 0) close(fd_);  // the daemon ends when infod goes away
    if (listener_ >= 0) close(listener_);
    box_.daemon_exit();
  }

  DaemonPeer(const DaemonPeer&) = delete;
  DaemonPeer& operator=(const DaemonPeer&) = delete;

  const e2e::Sandbox& box() const { return box_; }

  // Reads frames until one whose body holds stop; false on a timeout.
  bool read_until(const std::string& stop) {
    if (fd_ < 0) return false;
    for (;;) {
      size_t used = 0;
      while (carry_.size() - used >= 4) {
        uint32_t len;
        memcpy(&len, carry_.data() + used, 4);
        len = ntohl(len);
        if (carry_.size() - used - 4 < len) break;
        const bool found = std::string_view(carry_).substr(used + 4, len).find(stop) != std::string_view::npos;
        used += 4 + len;
        if (found) {
          carry_.erase(0, used);
          return true;
        }
      }
      carry_.erase(0, used);
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) return false;
      const ssize_t n = read(fd_, buf_.data(), buf_.size());
      if (n <= 0) return false;
      carry_.append(buf_.data(), static_cast<size_t>(n));
    }
  }

  // Makes the daemon reload and waits for the frame holding marker.
  bool reload(const std::string& marker) {
    return kill(box_.daemon_pid(), SIGHUP) == 0 && read_until(marker);
  }

  long rss_kb() const { return ::rss_kb(box_.daemon_pid()); }

 private:
  e2e::Sandbox box_;
  int listener_ = -1;
  int fd_ = -1;
  std::string carry_;
  std::string buf_ = std::string(65536, '\0');
};

// The log frame of the last reference of rule n entering Normal, the last
// frame a load sends.
std::string last_normal(int rules) { return "index=" + std::to_string(rules) + ", ref=1, state=Normal"; }

// The resident set of a daemon once it has sent the frame holding marker;
// 0 on failure.
long loaded_rss_kb(const std::string& config, const std::string& marker) {
  DaemonPeer peer(config);
  if (!peer.read_until(marker)) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last writes done
  return peer.rss_kb();
}

void BM_Memory(benchmark::State& state) {
  const std::string rules = bench::rule_file(kRules);
  for (auto _ : state) {
    const long empty = loaded_rss_kb(bench::rule_file(0), "config.autoresponse.command");
    const long loaded = loaded_rss_kb(rules, last_normal(kRules));
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

void BM_ReloadGrowth(benchmark::State& state) {
  const std::string marker = last_normal(kGrowthRules);
  for (auto _ : state) {
    // A log line per reference and reload would fill the disk, not memory.
    DaemonPeer peer(bench::rule_file(kGrowthRules), "/dev/null");
    bool ok = peer.read_until(marker);
    for (int i = 0; ok && i < kSettleReloads; ++i) ok = peer.reload(marker);
    const long settled = peer.rss_kb();
    for (int i = 0; ok && i < kGrowthReloads; ++i) ok = peer.reload(marker);
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

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReloadGrowth)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
