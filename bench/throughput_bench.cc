// Updates per second through the real daemon while ten environmental rules
// refresh (triggered rules getting readings that do not resolve them, each
// answered by one push of the current value), against two floors measured in the same run on the same
// traffic:
//   same_discipline: a bare client without rules that works as the link
//     used to: one read per readiness (a header, then a body), each answer
//     queued and written when the socket reports writable;
//   batching: a bare client that reads all that is waiting and answers the
//     whole batch in one send: the most any reader of this traffic can do.
// Both answer every update with the daemon's own push, byte for byte.
// With 10,000 rules loaded the ten refreshing sensors are spread over them,
// and a 10-rule daemon runs in the same process for the ratio between the two.
//
// Counters. The figures are updates per second of CPU time of the one
// that answers (the daemon's process, a floor's thread), which the
// machine's other work does not blur: daemon, same_discipline, batching,
// ratio_same = daemon / same_discipline, ratio_batching = daemon /
// batching; with 10,000 rules also daemon_10_rules and ratio_10 = daemon /
// that. The same ratios from the median wall time of a batch, driver and
// wake-ups included, end in _wall (daemon_wall: updates per second).
// stand_in_ns is what the configuration database stand-in's freshness
// checks cost per update (measured here, four configuration reads), and
// ratio_batching_own the ratio to the batching limit without them. rss_kb
// is the daemon's resident memory once its start-up traffic is written.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include <event2/event.h>

#include "batching.h"
#include "infod_peer.h"
#include "link/link.h"
#include "rule_file.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kBatch = 2000;
constexpr int kSensors = 10;
// Configuration reads of an environmental rule per refreshing update
// (syscall_bench shows their checks).
constexpr int kConfigReadsPerUpdate = 4;

// The port of refreshing sensor i when rules are loaded.
int sensor_port(int i, int rules) { return 1 + i * (rules / kSensors); }

std::vector<int> sensor_ports(int rules) {
  std::vector<int> ports;
  for (int i = 0; i < kSensors; ++i) ports.push_back(sensor_port(i, rules));
  return ports;
}

using bench::Answers;
using bench::batching_client;
using bench::sensor_key;

// The same-discipline floor: the link's former reader and writer steps on
// libevent, without rules.
class SameDisciplineClient {
 public:
  SameDisciplineClient(int fd, const Answers* answers) : fd_(fd), answers_(answers) {
    base_ = event_base_new();
    read_ = event_new(base_, fd, EV_READ | EV_PERSIST, on_readable, this);
    write_ = event_new(base_, fd, EV_WRITE | EV_PERSIST, on_writable, this);
    event_add(read_, nullptr);
  }
  ~SameDisciplineClient() {
    event_free(read_);
    event_free(write_);
    event_base_free(base_);
  }
  void run() { event_base_dispatch(base_); }

 private:
  static void on_readable(evutil_socket_t, short, void* arg) { static_cast<SameDisciplineClient*>(arg)->read_step(); }
  static void on_writable(evutil_socket_t, short, void* arg) { static_cast<SameDisciplineClient*>(arg)->write_step(); }

  // One read per readiness, never past the current message.
  void read_step() {
    if (body_len_ < 0) {
      const ssize_t n = recv(fd_, header_ + header_read_, kFrameHeader - header_read_, 0);
      if (n <= 0) return stop(n);
      header_read_ += static_cast<size_t>(n);
      if (header_read_ < kFrameHeader) return;
      body_len_ = static_cast<long>(frame_length(header_));
      body_.assign(static_cast<size_t>(body_len_) + 1, '\0');
      body_read_ = 0;
      return;
    }
    const ssize_t n = recv(fd_, body_.data() + body_read_, static_cast<size_t>(body_len_ - body_read_), 0);
    if (n <= 0) return stop(n);
    body_read_ += n;
    if (body_read_ < body_len_) return;
    std::string a = answers_->answer(body_.data());
    header_read_ = 0;
    body_len_ = -1;
    if (a.empty()) return;
    queue_.push_back(std::move(a));
    if (!write_added_) event_add(write_, nullptr), write_added_ = true;
  }

  // Up to 64 queued messages in one sendmsg, on writability.
  void write_step() {
    if (queue_.empty()) {
      event_del(write_);
      write_added_ = false;
      return;
    }
    iovec iov[64];
    int count = 0;
    size_t offset = offset_;
    for (const std::string& m : queue_) {
      if (count == 64) break;
      iov[count].iov_base = const_cast<char*>(m.data() + offset);
      iov[count++].iov_len = m.size() - offset;
      offset = 0;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = static_cast<size_t>(count);
    ssize_t n = sendmsg(fd_, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) return stop(n);
    while (n > 0) {
      const size_t rest = queue_.front().size() - offset_;
      if (static_cast<size_t>(n) < rest) {
        offset_ += static_cast<size_t>(n);
        break;
      }
      n -= static_cast<ssize_t>(rest);
      queue_.pop_front();
      offset_ = 0;
    }
  }

  void stop(ssize_t n) {
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    event_base_loopbreak(base_);
  }

  int fd_;
  const Answers* answers_;
  event_base* base_;
  event* read_;
  event* write_;
  bool write_added_ = false;
  char header_[kFrameHeader] = {};
  size_t header_read_ = 0;
  long body_len_ = -1;
  long body_read_ = 0;
  std::vector<char> body_;
  std::deque<std::string> queue_;
  size_t offset_ = 0;
};

std::string make_batch(int rules) {
  std::string batch;
  for (int i = 0; i < kBatch; ++i) {
    batch += bench::update(sensor_key(sensor_port(i % kSensors, rules)), i % 2 == 0 ? "40.5" : "41");
  }
  return batch;
}

// A bare client on one end of a socket pair, run in a thread; the other end
// is the driver's.
struct BareClient {
  template <class Run>
  explicit BareClient(Run run) {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    thread = std::thread(run, fds[1]);
  }
  ~BareClient() {
    shutdown(fds[0], SHUT_RDWR);
    thread.join();
    close(fds[0]);
    close(fds[1]);
  }
  int fds[2];
  std::thread thread;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Seconds of one freshness check of the configuration database stand-in:
// an ioctl(FIONREAD) on an inotify instance that watches a directory.
double stand_in_check_seconds(const std::string& directory) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(fd, directory.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
  constexpr int kCalls = 200000;
  int queued = 0;
  const auto t0 = SteadyClock::now();
  for (int i = 0; i < kCalls; ++i) ioctl(fd, FIONREAD, &queued);
  const double seconds = std::chrono::duration<double>(SteadyClock::now() - t0).count() / kCalls;
  close(fd);
  return seconds;
}

clockid_t process_clock(pid_t pid) {
  clockid_t clock = CLOCK_MONOTONIC;
  clock_getcpuclockid(pid, &clock);
  return clock;
}

clockid_t thread_clock(std::thread& thread) {
  clockid_t clock = CLOCK_MONOTONIC;
  pthread_getcpuclockid(thread.native_handle(), &clock);
  return clock;
}

double seconds_of(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What one batch took: wall seconds, and CPU seconds of the one that answered.
struct Run {
  double wall = 0;
  double cpu = 0;
};

Run run_batch(int fd, const std::string& batch, clockid_t cpu_clock) {
  const double cpu0 = seconds_of(cpu_clock);
  const double wall = bench::drive(fd, batch, kBatch, ".curr_entry.status");
  return Run{wall, seconds_of(cpu_clock) - cpu0};
}

void BM_Throughput(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  bench::InfodPeer daemon, daemon10;
  if (!daemon.start(bench::rule_file(rules), rules) || (rules != 10 && !daemon10.start(bench::rule_file(10), 10))) {
    state.SkipWithError("the daemon did not start");
    return;
  }
  for (int i = 0; i < kSensors; ++i) {
    if (!daemon.trigger(sensor_port(i, rules)) || (rules != 10 && !daemon10.trigger(sensor_port(i, 10)))) {
      state.SkipWithError("a rule did not trigger");
      return;
    }
  }
  state.counters["rss_kb"] = static_cast<double>(daemon.rss_kb());
  const Answers answers(sensor_ports(rules));
  BareClient batching([&answers](int fd) { batching_client(fd, &answers); });
  BareClient same([&answers](int fd) { SameDisciplineClient(fd, &answers).run(); });
  const std::string batch = make_batch(rules), batch10 = make_batch(10);
  const clockid_t daemon_cpu = process_clock(daemon.pid()), same_cpu = thread_clock(same.thread),
                  batching_cpu = thread_clock(batching.thread),
                  daemon10_cpu = rules != 10 ? process_clock(daemon10.pid()) : daemon_cpu;

  std::vector<double> wall[4];
  double cpu[4] = {};
  for (auto _ : state) {
    const Run runs[4] = {run_batch(daemon.fd(), batch, daemon_cpu), run_batch(same.fds[0], batch, same_cpu),
                         run_batch(batching.fds[0], batch, batching_cpu),
                         rules != 10 ? run_batch(daemon10.fd(), batch10, daemon10_cpu) : Run{1, 1}};
    for (int i = 0; i < 4; ++i) {
      if (runs[i].wall < 0) {
        state.SkipWithError("an answer did not come");
        return;
      }
      wall[i].push_back(runs[i].wall);
      cpu[i] += runs[i].cpu;
    }
    state.SetIterationTime(runs[0].wall);
  }
  const double updates = static_cast<double>(state.iterations()) * kBatch;
  state.counters["daemon"] = updates / cpu[0];
  state.counters["same_discipline"] = updates / cpu[1];
  state.counters["batching"] = updates / cpu[2];
  state.counters["ratio_same"] = cpu[1] / cpu[0];
  state.counters["ratio_batching"] = cpu[2] / cpu[0];
  state.counters["daemon_wall"] = kBatch / median(wall[0]);
  state.counters["ratio_same_wall"] = median(wall[1]) / median(wall[0]);
  state.counters["ratio_batching_wall"] = median(wall[2]) / median(wall[0]);
  if (rules != 10) {
    state.counters["daemon_10_rules"] = updates / cpu[3];
    state.counters["ratio_10"] = cpu[3] / cpu[0];
    state.counters["ratio_10_wall"] = median(wall[3]) / median(wall[0]);
  }
  // The configuration database stand-in checks its watch on every read;
  // the appliance's library has costs of its own there. Without those
  // checks the daemon would take this much less per update.
  const double check = kConfigReadsPerUpdate * stand_in_check_seconds(daemon.box().path("/etc/config"));
  state.counters["stand_in_ns"] = check * 1e9;
  state.counters["ratio_batching_own"] = cpu[2] / (cpu[0] - updates * check);
}

BENCHMARK(BM_Throughput)->Arg(10)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
