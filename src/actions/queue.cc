// The action queue and its runner.
#include "actions/queue.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <unistd.h>

#include "base/clock.h"
#include "base/log.h"
#include "base/record_store.h"
#include "base/log_line.h"
#include "model/action.h"
#include "model/autoresponse.h"
#include "platform/proc_exec.h"

namespace {

// A null-terminated array of pointers into strings, for exec.
std::vector<char*> c_array(std::vector<std::string>& strings) {
  std::vector<char*> array;
  array.reserve(strings.size() + 1);
  for (std::string& s : strings) array.push_back(s.data());
  array.push_back(nullptr);
  return array;
}

// The waiting action whose turn comes first; the queue's order breaks ties.
}  // namespace

QueuedAction* ActionQueue::next_waiting() {
  QueuedAction* next = nullptr;
  for (QueuedAction& qa : queue_) {
    if (qa.state == kQueuedWaiting && (next == nullptr || qa.turn < next->turn)) next = &qa;
  }
  return next;
}

// How many actions of the rule at ar_path the queue holds, waiting or
// running.
int32_t ActionQueue::held_by(const std::string& ar_path) const {
  int32_t held = 0;
  for (const QueuedAction& qa : queue_) held += qa.ar_path == ar_path ? 1 : 0;
  return held;
}

// The turn of a rule's next action, as in start-time fair queueing: the
// turn now running, or the turn after the rule's previous action when that
// is later. A rule that queued nothing for a while starts next; one that
// queues much waits its turn behind every other, each in its own order,
// and one that queues again as soon as its action ran gains nothing.
uint64_t ActionQueue::next_turn(const std::string& ar_path) {
  for (auto& [path, after] : rule_turns_) {
    if (path != ar_path) continue;
    const uint64_t turn = std::max(after, action_turn_);
    after = turn + 1;
    return turn;
  }
  rule_turns_.emplace_back(ar_path, action_turn_ + 1);
  return action_turn_;
}

// The turn of the action started last; a rule whose next turn is no later
// is a newcomer again and need not be remembered.
void ActionQueue::started_turn(uint64_t turn) {
  action_turn_ = turn;
  auto& turns = rule_turns_;
  turns.erase(std::remove_if(turns.begin(), turns.end(), [turn](const auto& t) { return t.second <= turn; }),
              turns.end());
}

// Signals a running action and whatever it started: children start as
// leaders of their own process group. A child left in the daemon's group
// (a platform that does not make one) gets the signal alone. The pid
// cannot have been reused: the child is not reaped yet.
void PlatformSpawner::kill_child(pid_t pid, int sig) {
  if (kill(-pid, sig) != 0 && errno == ESRCH) kill(pid, sig);
}

void ActionQueue::drop_entry(const QueuedAction* target) {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (&*it == target) {
      if (it->order != 0 && records != nullptr) {
        records->remove(queue_record_name(it->order));
        if (it->state == kQueuedRunning) records->remove(queue_start_name(it->order));
      }
      queue_.erase(it);
      return;
    }
  }
}

// Writes the restart record of qa, just queued for check.
void ActionQueue::write_record(QueuedAction* qa, const ArCheck& check) {
  if (records == nullptr) return;
  QueueRecord record;
  record.rule = check.conf.ar->index;
  record.fingerprint = check.conf.ar->restart_fingerprint;
  record.ref = check.conf.ref_index;
  const size_t triggers = check.trigger_count();
  record.list = qa->entry.status_index < triggers ? 0 : 1;
  record.action = qa->entry.status_index - (record.list == 0 ? 0 : static_cast<uint32_t>(triggers));
  record.cycle = check.cycle;
  record.queued_ms = clock_.wall_ms();
  record.rule_name = qa->ar_name;
  record.action_name = qa->action_name;
  if (check.current_event) record.event = *check.current_event;
  qa->order = ++record_order_;
  // One that cannot be kept still runs; a restart would not queue it again.
  if (!records->write(queue_record_name(qa->order), queue_record_format(record))) qa->order = 0;
}

QueuedEntry ActionQueue::entry_of(const ArCheck& check, const ActionStatus* status) const {
  QueuedEntry entry;
  entry.check_id = check.id;
  entry.status_index = static_cast<uint32_t>(status - check.statuses.data());
  entry.cycle = check.cycle;
  return entry;
}

// The status entry names while it is still that action's: its reference is
// one of the current load's and has not been re-armed since; else null. A
// walk over the references, made only when an action is evicted.
ActionStatus* ActionQueue::status_of(const QueuedEntry& entry, ArCheck** owner) const {
  if (checks_ == nullptr || entry.check_id == 0) return nullptr;
  for (ArCheck& check : *checks_) {
    if (check.id != entry.check_id) continue;
    if (entry.cycle != check.cycle || entry.status_index >= check.trigger_count() + check.resolve_count()) break;
    *owner = &check;
    return check.statuses.data() + entry.status_index;
  }
  return nullptr;
}

namespace {

// What one rule holds of the queue: how many actions, where its newest
// action stands in the order queued, and its newest waiting action.
struct QueueShare {
  const std::string* ar_path = nullptr;
  int32_t held = 0;
  size_t newest = 0;
  QueuedAction* newest_waiting = nullptr;
};

// The action that gives way to one of the rule at ar_path, which holds held
// actions: the newest waiting action of the rule that holds the most of
// those holding at least as much with an action waiting, of the one among
// them that queued its newest action last on a tie; never one of the rule
// itself. Null when no rule can give way.
QueuedAction* giving_way(std::list<QueuedAction>& queue, const std::string& ar_path, int32_t held) {
  std::vector<QueueShare> shares;
  size_t position = 0;
  for (QueuedAction& qa : queue) {
    ++position;
    if (qa.ar_path == ar_path) continue;
    auto share =
        std::find_if(shares.begin(), shares.end(), [&qa](const QueueShare& s) { return *s.ar_path == qa.ar_path; });
    if (share == shares.end()) share = shares.insert(shares.end(), QueueShare{&qa.ar_path});
    ++share->held;
    share->newest = position;
    if (qa.state == kQueuedWaiting) share->newest_waiting = &qa;
  }
  const QueueShare* most = nullptr;
  for (const QueueShare& share : shares) {
    if (share.newest_waiting == nullptr || share.held < held) continue;
    if (most == nullptr || share.held > most->held || (share.held == most->held && share.newest > most->newest)) {
      most = &share;
    }
  }
  return most != nullptr ? most->newest_waiting : nullptr;
}

}  // namespace

// Makes room in a full queue for an action of the rule at ar_path, when
// that rule holds less than half of it (giving_way). False when nothing
// gives way.
bool ActionQueue::make_room(const std::string& ar_path) {
  const int32_t held = held_by(ar_path);
  if (2 * held >= queued()) return false;
  QueuedAction* victim = giving_way(queue_, ar_path, held);
  if (victim == nullptr) return false;
  ar_log(kLogFatal, "Dropped action: %s for AR: %s - queue full", victim->action_name.c_str(), victim->ar_name.c_str());
  const LogLine line =
      format_log_line("Dropped action: %s for AR: %s - queue full", victim->action_name.c_str(), victim->ar_name.c_str());
  // A status re-armed since belongs to a later trigger or resolve, whose
  // action is still to be queued.
  ArCheck* owner = nullptr;
  if (ActionStatus* status = status_of(victim->entry, &owner)) {
    *status = kActionDropped;
    touched_.push_back(owner);
  }
  drop_entry(victim);
  publisher_.push_log(line.text);
  return true;
}

pid_t PlatformSpawner::spawn(const char* path, char* const argv[], char* const envp[]) {
  return brimvale_proc_exec_env_nowait(path, argv, envp, 2);
}

int action_exit_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  // A killed action is not a success.
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 0;
}

int ActionQueue::enqueue(ArCheck* check, const Action& action, ActionStatus* status, const std::string& path,
                     const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag) {
  const std::string ar_path = check->conf.ar->path().str();
  if (queued() > kMaxQueuedActions && !make_room(ar_path)) {
    ar_log(kLogFatal, "Too many queued actions %d", queued());
    return 1;
  }
  try {
    QueuedAction qa;
    qa.turn = next_turn(ar_path);
    qa.since = clock_.wall_seconds();
    qa.path = path;
    qa.argv = argv;
    qa.envp = envp;
    qa.tag = tag;
    qa.action_name = action.name;
    qa.action_path = action_path(*check->conf.ar, action);
    qa.ar_name = check->conf.ar->name;
    qa.ar_path = ar_path;
    qa.entry = entry_of(*check, status);
    queue_.push_back(std::move(qa));
    write_record(&queue_.back(), *check);
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocated queued action");
    return 1;
  }
  start_waiting();
  return 0;
}

void ActionQueue::start_waiting() {
  while (running_ < concurrent_actions) {
    QueuedAction* qa = next_waiting();
    if (qa == nullptr) return;
    started_turn(qa->turn);
    // Before the program starts: a restart must not run it again.
    if (qa->order != 0 && records != nullptr) records->write(queue_start_name(qa->order), "");
    std::vector<char*> argv = c_array(qa->argv);
    std::vector<char*> envp = c_array(qa->envp);
    const pid_t pid = spawner_.spawn(qa->path.c_str(), qa->argv.empty() ? nullptr : argv.data(),
                                          qa->envp.empty() ? nullptr : envp.data());
    if (pid < 0) {
      // No child exists to reap: the slot and the queue place go at once.
      ar_log(kLogFatal, "Could not start action %s: %s", qa->action_path.c_str(), strerror(errno));
      const LogLine line =
          format_log_line("Could not start action: %s for AR: %s", qa->action_name.c_str(), qa->ar_name.c_str());
      qa->state = kQueuedRunning;  // its start was written
      drop_entry(qa);
      publisher_.push_log(line.text);
      continue;
    }
    qa->state = kQueuedRunning;
    qa->pid = pid;
    qa->started = clock_.monotonic_ms();
    qa->since = clock_.wall_seconds();
    ++running_;
  }
}

void ActionQueue::child_ended(pid_t pid, int wait_status) {
  for (QueuedAction& qa : queue_) {
    if (qa.state != kQueuedRunning || qa.pid != pid) continue;
    const int status = action_exit_status(wait_status);
    --running_;
    const LogLine line = format_log_line("Finished action: %s with status %d for AR: %s - %d queued actions remaining",
                                         qa.action_name.c_str(), status, qa.ar_name.c_str(), queued() - 1);
    ar_log(kLogInfo, "Reaped %d - status %d - action %s - %d queued actions remaining", static_cast<int>(pid), status,
           qa.action_path.c_str(), queued() - 1);
    if (finished_.size() == kFinishedKept) finished_.pop_front();
    finished_.push_back({clock_.wall_ms(), qa.ar_path, qa.action_name, status});
    drop_entry(&qa);
    publisher_.push_log(line.text);
    break;
  }
  start_waiting();
}

void ActionQueue::check_timeouts() {
  const int64_t now = clock_.monotonic_ms();
  for (QueuedAction& qa : queue_) {
    if (qa.state != kQueuedRunning) continue;
    if (qa.terminated < 0) {
      // Without a time-out nothing new is ended; but a child already sent
      // SIGTERM still gets its SIGKILL below, even if a reload has since
      // taken the time-out away, or it could hold its slot for ever.
      if (action_timeout <= 0 || now - qa.started < static_cast<int64_t>(action_timeout) * 1000) continue;
      ar_log(kLogError, "Action timed out: %s for AR: %s", qa.action_name.c_str(), qa.ar_name.c_str());
      const LogLine line = format_log_line("Action timed out: %s for AR: %s", qa.action_name.c_str(),
                                           qa.ar_name.c_str());
      publisher_.push_log(line.text);
      spawner_.kill_child(qa.pid, SIGTERM);
      qa.terminated = now;
    } else if (!qa.killed && now - qa.terminated >= kActionKillGrace * 1000) {
      spawner_.kill_child(qa.pid, SIGKILL);
      qa.killed = true;
    }
  }
}

void ActionQueue::attach(ArCheckList* checks) {
  checks_ = checks;
  touched_.clear();
}

std::vector<ArCheck*> ActionQueue::take_touched() {
  std::vector<ArCheck*> touched;
  touched.swap(touched_);
  return touched;
}

void ActionQueue::requeue(QueuedAction qa) {
  ar_log(kLogInfo, "Requeued action: %s for AR: %s - it had not started when the daemon stopped",
         qa.action_name.c_str(), qa.ar_name.c_str());
  const LogLine line = format_log_line("Requeued action: %s for AR: %s - %d actions in the queue",
                                       qa.action_name.c_str(), qa.ar_name.c_str(), queued());
  publisher_.push_log(line.text);
  qa.turn = next_turn(qa.ar_path);
  qa.since = clock_.wall_seconds();
  qa.state = kQueuedWaiting;
  queue_.push_back(std::move(qa));
}
