// A daemon in the test process: a DaemonContext with a private
// configuration file, controlled clocks, a recording spawner and the
// messages it would send to infod, without a socket peer to drive.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "actions/queue.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/paths.h"

struct event_base;

// Builds a configuration file from dotted paths and values.
class ConfigBuilder {
 public:
  // Sets path (beginning with "config.") to value; later sets of the same
  // path replace the value.
  ConfigBuilder& set(const std::string& path, const std::string& value);
  ConfigBuilder& set(const std::string& path, long value) { return set(path, std::to_string(value)); }
  // The XML text.
  std::string xml() const;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

class FakeClock final : public Clock {
 public:
  int64_t monotonic_seconds() override { return monotonic; }
  time_t wall_seconds() override { return wall; }
  void advance(int64_t seconds) {
    monotonic += seconds;
    wall += seconds;
  }
  int64_t monotonic = 1000;
  time_t wall = 1700000000;  // a Tuesday, 22:13:20 UTC
};

// Records every start and answers with increasing pids (or -1 when told).
class FakeSpawner final : public Spawner {
 public:
  struct Start {
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> envp;
    bool has_argv = false;
    bool has_envp = false;
    pid_t pid = 0;
  };
  pid_t spawn(const char* path, char* const argv[], char* const envp[]) override;
  std::vector<Start> starts;
  pid_t next_pid = 1000;
  bool fail = false;
};

// One message as infod would receive it.
struct SentMessage {
  int type = 0;
  std::string key;
  int number = 0;
  std::string value;
};

// Every log line at or below priority 600, as syslog would get it.
struct LogRecord {
  int priority;
  std::string text;
};

class TestDaemon {
 public:
  TestDaemon();
  ~TestDaemon();
  TestDaemon(const TestDaemon&) = delete;
  TestDaemon& operator=(const TestDaemon&) = delete;

  // Writes the configuration file that xmldb_open(NULL) will open.
  void write_config(const ConfigBuilder& config);
  void write_config(const std::string& xml);

  // Runs the loader (as main does) and returns its result.
  int load();

  // Delivers one type 8 update through the real message handler; returns
  // its result (non-zero would end the daemon).
  int deliver(const std::string& key, const std::string& value, uint64_t time_ms = 1700000000000ULL);

  // Drains what the daemon queued for infod, parsed.
  std::vector<SentMessage> take_sent();

  // Only the type 1 pushes under a key, from what was sent so far.
  static std::vector<std::string> values_of(const std::vector<SentMessage>& sent, const std::string& key);

  // Runs one tick.
  void tick();

  // Reports the end of a started child with an exit code.
  void child_exits(pid_t pid, int code);

  // Log lines seen so far, and whether one contains text.
  bool logged(const std::string& text) const;
  std::vector<LogRecord> logs;

  ArCheck& check(size_t n);  // the nth ArCheck in list order, from 0
  const std::string& dir() const { return dir_; }

  DaemonContext ctx;
  FakeClock clock;
  FakeSpawner spawner;
  Paths paths;

 private:
  std::string dir_;
  event_base* base_ = nullptr;
  int peer_fd_ = -1;
};

// Parses the framed messages of a byte stream.
std::vector<SentMessage> parse_messages(const std::string& bytes);
