// Resident memory per reference of the real daemon at 10,000 rules of one
// reference each, against the limit of 2 KiB: the resident set of a daemon
// that has loaded them and sent every start-up frame, minus that of one
// started on an empty configuration, divided by the references. The
// configuration database is part of it; its own share is counted apart in
// this process, as the heap that an opened database of the same file holds.
//
// Counters: daemon_B_per_ref, limit_B_per_ref, ratio = daemon / limit,
// db_B_per_rule, and the two resident sets, loaded_kB and empty_kB.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <malloc.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

// Reads frames from fd until one whose body holds stop; false on a timeout.
bool read_until(int fd, const std::string& stop) {
  std::string carry;
  std::string buf(65536, '\0');
  for (;;) {
    size_t used = 0;
    while (carry.size() - used >= 4) {
      uint32_t len;
      memcpy(&len, carry.data() + used, 4);
      len = ntohl(len);
      if (carry.size() - used - 4 < len) break;
      if (carry.compare(used + 4, len, stop) == 0 || carry.substr(used + 4, len).find(stop) != std::string::npos)
        return true;
      used += 4 + len;
    }
    carry.erase(0, used);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) return false;
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n <= 0) return false;
    carry.append(buf.data(), static_cast<size_t>(n));
  }
}

// Starts the development daemon on config against a private socket and
// returns its resident set once it has sent the frame holding marker; 0 on
// failure.
long loaded_rss_kb(const std::string& config, const std::string& marker) {
  e2e::Sandbox box;
  e2e::write_file(box.path("/etc/config/config.xml"), config);
  const std::string path = box.path("/var/run/infod-sock");
  const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, 1) != 0 ||
      !box.start_daemon()) {
    close(listener);
    return 0;
  }
  const int daemon = accept(listener, nullptr, nullptr);
  long kb = 0;
  if (daemon >= 0 && read_until(daemon, marker)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last writes done
    kb = rss_kb(box.daemon_pid());
  }
  if (daemon >= 0) close(daemon);  // the daemon ends when infod goes away
  close(listener);
  box.daemon_exit();
  return kb;
}

void BM_Memory(benchmark::State& state) {
  const std::string rules = bench::rule_file(kRules);
  for (auto _ : state) {
    const long empty = loaded_rss_kb(bench::rule_file(0), "config.autoresponse.command");
    const long loaded =
        loaded_rss_kb(rules, "index=" + std::to_string(kRules) + ", ref=1, state=Normal");
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

BENCHMARK(BM_Memory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
