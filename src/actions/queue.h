// The action queue: one process-wide queue of actions that run a program,
// started as children under the concurrency limit, in fair turns between
// rules.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "actions/action_env.h"
#include "actions/queue_record.h"
#include "model/archeck.h"
#include "model/publisher.h"

class Clock;
class RecordStore;
struct Action;

enum QueuedActionState : int32_t {
  kQueuedWaiting = 0,
  kQueuedRunning = 1,
};

// The status an action was queued for: the reference's identity (which a
// reload that keeps the reference keeps too), the status's place in its
// statuses and the reference's cycle then. The status is the action's only
// while the reference lives and all three still match
// (ActionQueue::status_of).
struct QueuedEntry {
  uint32_t check_id = 0;
  uint32_t status_index = 0;
  uint32_t cycle = 0;
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
  int64_t started = 0;      // monotonic milliseconds when the child started
  int64_t since = 0;        // wall seconds when it was queued, then when it started
  int64_t terminated = -1;  // monotonic milliseconds of the SIGTERM; -1: none sent
  bool killed = false;      // SIGKILL sent
  std::string action_name;  // the Action's name
  std::string action_path;  // the Action's configuration path
  std::string ar_name;      // the AutoResponse's name
  std::string ar_path;      // the AutoResponse's path: whose share it counts in
  QueuedEntry entry;  // the status it was queued for
  // The place in the order actions were queued, which names its restart
  // record (actions/queue_record.h); 0 for none.
  uint64_t order = 0;
};

// Starts children and signals them; the real one calls the platform, tests
// and `arctl test` use recorders.
class Spawner {
 public:
  virtual ~Spawner() = default;
  // Returns the child's pid, or -1 with errno when no child could be made.
  virtual pid_t spawn(const char* path, char* const argv[], char* const envp[]) = 0;
  // Signals a running child and whatever it started.
  virtual void kill_child(pid_t pid, int sig) = 0;
};

class PlatformSpawner final : public Spawner {
 public:
  pid_t spawn(const char* path, char* const argv[], char* const envp[]) override;
  void kill_child(pid_t pid, int sig) override;
};

// The queue is full once it holds more than this many actions.
constexpr int kMaxQueuedActions = 100;

// Seconds between the SIGTERM to a timed-out action and the SIGKILL.
constexpr int64_t kActionKillGrace = 5;

// The one action queue of the process: what waits and runs, the limits, and
// what it works with (the clock, the spawner, the publisher for its log
// lines).
class ActionQueue final : public ActionSink {
 public:
  ActionQueue(Publisher& publisher, Clock& clock, Spawner& spawner)
      : publisher_(publisher), clock_(clock), spawner_(spawner) {}
  ActionQueue(const ActionQueue&) = delete;
  ActionQueue& operator=(const ActionQueue&) = delete;

  // Copies the command and queues it for check's rule and the entry status
  // of action; 1 when refused ("Too many queued actions %d"), else 0.
  // Starts what the concurrency limit allows at once.
  //
  // No rule can crowd out another: when the queue is full and the action's
  // rule holds less than half of it, the newest waiting action of another
  // rule gives way: of the rule that holds the most of those holding at
  // least as much as this one, on a tie of the one that queued its newest
  // action last ("Dropped action: %s for AR: %s - queue full", logged and
  // pushed; its entry becomes Dropped unless its reference has been
  // re-armed since).
  int enqueue(ArCheck* check, const Action& action, ActionStatus* status, const std::string& path,
              const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag) override;
  // Starts waiting actions while fewer than concurrent_actions run, taking
  // turns between rules: each rule's actions start in the order they were
  // queued, and a rule's next action waits behind one of every other rule
  // that queued meanwhile. A child that cannot be made leaves the queue at
  // once.
  void start_waiting();
  // Reports and releases the Running action of pid with the wait status,
  // then starts what waits. An unknown pid is forgotten silently.
  void child_ended(pid_t pid, int wait_status);
  // Ends actions that have run longer than action_timeout (0: no limit):
  // "Action timed out" is logged and pushed and the child's process group
  // gets SIGTERM, then SIGKILL kActionKillGrace seconds later whatever the
  // time-out is by then. Their slots stay taken until they are reaped like
  // any other child.
  void check_timeouts();
  // A new load's references: a queued action's entry is found among them
  // by its reference's identity, which only a reference a reload kept
  // still has.
  void attach(ArCheckList* checks);
  // The references whose statuses the queue changed itself (an eviction)
  // since the last call, for whoever keeps their records.
  std::vector<ArCheck*> take_touched();

  const std::list<QueuedAction>& entries() const { return queue_; }

  // The actions that ended last, newest last: at most kFinishedKept.
  struct Finished {
    int64_t wall_ms = 0;
    std::string ar_path;
    std::string action_name;
    int status = 0;
  };
  static constexpr size_t kFinishedKept = 32;
  const std::deque<Finished>& finished() const { return finished_; }
  int32_t queued() const { return static_cast<int32_t>(queue_.size()); }
  int32_t running() const { return running_; }

  int32_t concurrent_actions = 2;
  int32_t action_timeout = 0;  // seconds a child may run; 0: no limit

  // Where each action held is kept for a restart (actions/queue_record.h):
  // its record is written when it is queued, its start before its program
  // starts, and both go when it leaves. Null: nothing is kept.
  RecordStore* records = nullptr;
  // At start, before anything is queued: an action the last process had
  // queued and not started, its command built again, queued in its old
  // place in the order ("Requeued action: ..."). Started with what is
  // queued after it, by start_waiting.
  void requeue(QueuedAction qa);
  // At start: the order of the last action the last process queued, which
  // the next one queued follows.
  void continue_order(uint64_t last) { record_order_ = std::max(record_order_, last); }

 private:
  QueuedAction* next_waiting();
  int32_t held_by(const std::string& ar_path) const;
  uint64_t next_turn(const std::string& ar_path);
  void started_turn(uint64_t turn);
  void drop_entry(const QueuedAction* target);
  QueuedEntry entry_of(const ArCheck& check, const ActionStatus* status) const;
  ActionStatus* status_of(const QueuedEntry& entry, ArCheck** owner) const;
  bool make_room(const std::string& ar_path);
  void write_record(QueuedAction* qa, const ArCheck& check);

  Publisher& publisher_;
  Clock& clock_;
  Spawner& spawner_;
  std::list<QueuedAction> queue_;
  std::deque<Finished> finished_;
  int32_t running_ = 0;
  // Turns of the fair order: the turn of the action started last, and the
  // next turn of each rule that has had one since.
  uint64_t action_turn_ = 0;
  std::vector<std::pair<std::string, uint64_t>> rule_turns_;
  // The current load's references, and those whose statuses changed here.
  ArCheckList* checks_ = nullptr;
  std::vector<ArCheck*> touched_;
  // The order of the action queued last.
  uint64_t record_order_ = 0;
};

// The exit status reported for a wait status: the exit code, or 128 plus
// the signal number for a child ended by a signal.
int action_exit_status(int wait_status);
