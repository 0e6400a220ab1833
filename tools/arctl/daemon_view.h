// What the running daemon publishes of itself in infod (its pid, heartbeat,
// last load and queue), read back for arctl's commands, which show and
// steer what the daemon runs rather than what the file says.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class InfodConnection;

// Exit status of commands that need the daemon and find it not running.
constexpr int kExitNotRunning = 3;

struct LoadedRule {
  uint32_t number = 0;              // N of config.autoresponse.autoresponseN
  std::vector<uint32_t> references;  // the numbers of the references the daemon made
  std::string check_type;
  std::string name;
};

struct QueueEntry {
  bool running = false;
  int64_t since = 0;  // started, or queued while waiting
  std::string rule_path;
  std::string action_path;
  std::string name;  // the action's; "" when the daemon shows none
};

// A reference whose burst is counting: the reports within its rule's
// window so far, and when the oldest of them came (wall milliseconds).
struct BurstEntry {
  uint32_t rule = 0;
  uint32_t ref = 0;
  uint32_t count = 0;
  int64_t oldest_ms = 0;
};

// A reference held back while another rule is Triggered or Resolving, and
// the names of the actions held so far.
struct HoldEntry {
  uint32_t rule = 0;
  uint32_t ref = 0;
  uint32_t holder = 0;
  std::vector<std::string> actions;
};

// An action that ended: when (wall milliseconds), its rule's path, its exit
// status and its name.
struct FinishedEntry {
  int64_t ms = 0;
  std::string rule_path;
  int status = 0;
  std::string name;
};

struct DaemonView {
  bool published = false;  // infod holds the daemon's keys at all
  pid_t pid = 0;
  std::string pid_start_time;  // as base/process_start.h reads it; "" when infod holds none
  int64_t started = 0;
  int64_t heartbeat = 0;
  int64_t reload_time = 0;
  std::string reload_result;  // "ok", or why the file could not be opened
  int64_t reload_mtime = 0;
  std::string reload_checksum;
  uint64_t reload_number = 0;  // of the last load, 0 when infod holds none
  // What the last load that opened its file kept and started again; "-"
  // for the daemon's first load, "" when infod holds none.
  std::string reload_changes;
  std::vector<LoadedRule> loaded;
  // Every part of the loaded list was there, from one load, with as many
  // rules as the daemon said it loaded.
  bool loaded_whole = false;
  std::vector<QueueEntry> queue;
  std::vector<BurstEntry> bursts;
  std::vector<HoldEntry> holds;
  std::vector<FinishedEntry> finished;  // oldest first

  // Whether the heartbeat is at most two ticks old at now.
  bool alive(int64_t now) const;
};

// Entries of the daemon's status texts, which any client of infod can
// write, read as well as they read: a rule of the loaded list, an action of
// the queue, a reference of the bursts (nothing when it is not one), and
// the "TIME VALUE" of a latest.RULE.REF key (nothing for another text).
LoadedRule parse_loaded_rule(const std::string& entry);
QueueEntry parse_queue_entry(const std::string& entry);
std::optional<BurstEntry> parse_burst_entry(const std::string& entry);
std::optional<HoldEntry> parse_hold_entry(const std::string& entry);
std::optional<FinishedEntry> parse_finished_entry(const std::string& entry);
std::optional<std::pair<int64_t, std::string>> parse_latest_update(const std::string& text);

// Reads the daemon's keys; false when infod does not answer. A load that
// lands while they are read is read again, whole.
bool read_daemon_view(InfodConnection& infod, DaemonView* view);

// Whether the process that infod names is the daemon: it is the process
// that the kernel names as the holder of the pid file's write lock (the
// file root's to write; pid_file is its path), the file holds its pid, and
// it started when the daemon published it did. 0, or, after saying on err
// why not, kExitNotRunning: nothing may be sent to that pid. Any client of
// infod can publish a pid and a fresh heartbeat, and a pid may be taken by
// another process after the daemon's end; the lock goes with the daemon.
int prove_running_daemon(const DaemonView& view, const std::string& pid_file, std::ostream& err);

// Why the process infod names is not proven the daemon, as above; "" when
// it is.
std::string unproven_daemon(const DaemonView& view, const std::string& pid_file);

// Connects infod to the socket and reads the daemon's keys into view,
// whether it runs or not: 0, or 1 after saying on err that infod cannot be
// reached or does not answer.
int reach_daemon_view(const std::string& socket, InfodConnection* infod, DaemonView* view, std::ostream& err);

// Connects infod to the socket and reads the running daemon's keys into
// view: 0, or, after saying why on err, the exit status of a command that
// needs the daemon: 1 when infod cannot be reached or does not answer,
// kExitNotRunning when the daemon's heartbeat is too old.
int reach_running_daemon(const std::string& socket, InfodConnection* infod, DaemonView* view, std::ostream& err);

// "2024-05-01 14:03:07" in local time.
std::string local_time_text(int64_t seconds);

// Says on err that the daemon is not running (exit status 3 follows):
// since when its heartbeat stopped, or that it never published one; the
// same reason alone.
void say_not_running(const DaemonView& view, std::ostream& err);
std::string not_running_reason(const DaemonView& view);

// The loaded rule that word names: its number, its path
// (config.autoresponse.autoresponseN) or its name; null after saying on err
// why there is none.
const LoadedRule* find_loaded_rule(const DaemonView& view, const std::string& word, std::ostream& err);

// The path of a loaded rule, and the keys of one of its references' state
// and current value.
std::string loaded_rule_path(const LoadedRule& rule);
std::string reference_state_key(const std::string& rule_path, uint32_t reference);
std::string reference_value_key(const std::string& rule_path, uint32_t reference);
