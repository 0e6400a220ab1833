// The action queue: one process-wide first-in-first-out queue of actions
// that run a program, started as children under the concurrency limit and
// reaped on SIGCHLD.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/archeck.h"

struct Action;
struct DaemonContext;

enum QueuedActionState : int32_t {
  kQueuedWaiting = 0,
  kQueuedRunning = 1,
};

// One action waiting in, or running from, the queue. It carries copies of
// everything it reports, because a reload releases the rule, its ArChecks
// and its Actions while the action still waits or runs.
struct QueuedAction {
  uint64_t turn = 0;  // the place in the fair order: lower starts first
  std::string path;               // program to start
  std::vector<std::string> argv;  // empty: started with no argument vector
  std::vector<std::string> envp;  // empty: inherits the daemon's environment
  int32_t tag = 0;                // 2 for Nagios reports, else 0
  pid_t pid = 0;
  QueuedActionState state = kQueuedWaiting;
  int64_t started = 0;      // monotonic seconds when the child started
  int64_t since = 0;        // wall seconds when it was queued, then when it started
  int64_t terminated = -1;  // monotonic seconds of the SIGTERM; -1: none sent
  bool killed = false;      // SIGKILL sent
  std::string action_name;  // the Action's name
  std::string action_path;  // the Action's configuration path
  std::string ar_name;      // the AutoResponse's name
  std::string ar_path;      // the AutoResponse's path: whose share it counts in
  // The entry it was queued for, while that load lasts: the load's number,
  // the ArCheck's place in the checks and the status's place in its statuses.
  uint32_t load = 0;
  uint32_t check_seq = 0;
  uint32_t status_index = 0;
};

// Starts children; the real one calls the platform, tests use fakes.
class Spawner {
 public:
  virtual ~Spawner() = default;
  // Returns the child's pid, or -1 with errno when no child could be made.
  virtual pid_t spawn(const char* path, char* const argv[], char* const envp[]) = 0;
};

class PlatformSpawner final : public Spawner {
 public:
  pid_t spawn(const char* path, char* const argv[], char* const envp[]) override;
};

// The queue is full once it holds more than this many actions.
constexpr int kMaxQueuedActions = 100;

// Copies the command and queues it for check's rule and the entry status
// of action; 1 when refused ("Too many queued actions %d"), else 0. Starts
// what the concurrency limit allows at once.
//
// No rule can crowd out another: when the queue is full and the action's
// rule holds less than half of it, the newest waiting action of the rule
// that holds the most (more than this one) gives way ("Dropped action: %s
// for AR: %s - queue full", logged and pushed; its entry becomes Dropped).
int queue_action(ArCheck* check, const Action& action, ActionStatus* status, const std::string& path,
                 const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag);

// Starts waiting actions while fewer than concurrent_actions run, taking
// turns between rules: each rule's actions start in the order they were
// queued, and a rule's next action waits behind one of every other rule
// that queued meanwhile. A child that cannot be made leaves the queue at
// once.
int start_queued_actions(DaemonContext* ctx);

// The SIGCHLD callback: collects every ended child without blocking.
void reap_action(int signal_number, short events, void* ctx);

// Reports and releases the Running action of pid with the wait status, then
// starts what waits. An unknown pid is forgotten silently.
void action_child_ended(DaemonContext* ctx, pid_t pid, int wait_status);

// Seconds between the SIGTERM to a timed-out action and the SIGKILL.
constexpr int64_t kActionKillGrace = 5;

// Ends actions that have run longer than the context's action_timeout
// (0: no limit): "Action timed out" is logged and pushed and the child's
// process group gets SIGTERM, then SIGKILL kActionKillGrace seconds later
// whatever the time-out is by then. Their slots stay taken until they are reaped like any other child.
void action_check_timeouts(DaemonContext* ctx);

// The exit status reported for a wait status: the exit code, or 128 plus
// the signal number for a child ended by a signal.
int action_exit_status(int wait_status);
