// A daemon in the test process: private configuration file, controlled clocks, recording spawner, no socket.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "actions/queue.h"
#include "base/clock.h"
#include "base/paths.h"
#include "base/record_store.h"
#include "daemon/context.h"

struct event_base;

using Strings = std::vector<std::string>;

// A configuration file from dotted paths ("config.a.b") and values; a later set of a path replaces it.
class ConfigBuilder {
 public:
  ConfigBuilder& set(const std::string& path, const std::string& value);
  ConfigBuilder& set(const std::string& path, long value) { return set(path, std::to_string(value)); }
  std::string xml() const;
  struct Node { std::string name, value; std::vector<Node> children; };

 private:
  Node root_{"config", "", {}};
};

class FakeClock final : public Clock {
 public:
  int64_t monotonic_ms() override { return monotonic * 1000 + ms; }
  int64_t wall_ms() override { return static_cast<int64_t>(wall) * 1000 + ms; }
  void advance(int64_t seconds) { monotonic += seconds, wall += seconds; }
  void advance_ms(int64_t n) { advance(Clock::floor_div(ms + n, 1000)), ms = ms + n - Clock::floor_div(ms + n, 1000) * 1000; }
  int64_t monotonic = 1000;
  time_t wall = 1700000000;  // a Tuesday, 22:13:20 UTC
  int64_t ms = 0;            // the milliseconds past both seconds
};

// Records every start and answers with increasing pids (or starts it for real); the next `fail` starts fail instead.
class FakeSpawner final : public Spawner {
 public:
  struct Start { std::string path; std::vector<std::string> argv, envp; bool has_argv, has_envp; pid_t pid; };
  pid_t spawn(const char* path, char* const argv[], char* const envp[]) override;
  void kill_child(pid_t pid, int sig) override {
    if (real != nullptr) return real->kill_child(pid, sig);
    signals.push_back({pid, sig});
  }
  Spawner* real = nullptr;  // set: children are started and signalled for real
  std::function<void(const Start&)> on_spawn;  // set: told of each start as it is made
  std::vector<Start> starts;
  std::vector<std::pair<pid_t, int>> signals;
  pid_t next_pid = 1000;
  int fail = 0;
};

// A push has key, number and value; a subscription or its end the key alone.
struct SentMessage { int type = 0; std::string key; int number = 0; std::string value; };

struct LogRecord { int priority; std::string text; };

// Every log line while it lives, as syslog would get it.
struct LogCapture {
  LogCapture();
  ~LogCapture();
  std::vector<std::string> texts(int priority = -1) const;  // of every line, or of those at priority
  std::vector<LogRecord> records;
};

class TestDaemon {
 public:
  TestDaemon();
  ~TestDaemon();

  // The file xmldb_open(NULL) opens, replaced whole by a rename.
  void write_config(const ConfigBuilder& config);
  int load();                              // the loader, as main runs it
  int load(const ConfigBuilder& config);   // writes, loads and drops the start-up traffic
  // One type 8 update through the real message handler; non-zero would end the daemon.
  int deliver(const std::string& key, const std::string& value, uint64_t time_ms = 1700000000000ULL);
  // Any body from infod, split as the link splits it, through the same handler.
  int take(std::string body);
  // Drains what was queued for infod; the shown restart records go to kept instead.
  std::vector<SentMessage> take_sent();
  // The last restart record shown under each key, as infod holds it, by what
  // follows "config.autoresponse.daemon.kept." ("1" for rule 1).
  std::map<std::string, std::string> kept;
  // What the daemon keeps for a restart.
  MemoryRecords records;
  static const std::string kKeptPrefix;
  static std::vector<std::string> values_of(const std::vector<SentMessage>& sent, const std::string& key);
  void tick();
  void child_exits(pid_t pid, int code);
  bool logged(const std::string& text) const;  // some log line contains text
  int logged_at(int priority, const std::string& text) const;  // how many lines are text at priority
  ArCheck& check(size_t n);                    // the nth ArCheck in list order, from 0
  const std::string& dir() const { return dir_; }

  LogCapture log;
  std::vector<LogRecord>& logs = log.records;

 private:
  std::string dir_;

 public:
  FakeClock clock;
  FakeSpawner spawner;
  Paths paths;
  DaemonContext ctx;

 private:
  event_base* base_ = nullptr;
};
