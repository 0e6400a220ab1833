// The action queue, its runner and its reaper.
#include "actions/queue.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "config/action.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/guard.h"
#include "core/link.h"
#include "core/log.h"
#include "core/log_line.h"
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
QueuedAction* next_waiting(DaemonContext* ctx) {
  QueuedAction* next = nullptr;
  for (QueuedAction& qa : ctx->action_queue) {
    if (qa.state == kQueuedWaiting && (next == nullptr || qa.turn < next->turn)) next = &qa;
  }
  return next;
}

// How many actions of the rule at ar_path the queue holds, waiting or
// running.
int32_t held_by(const DaemonContext* ctx, const std::string& ar_path) {
  int32_t held = 0;
  for (const QueuedAction& qa : ctx->action_queue) held += qa.ar_path == ar_path ? 1 : 0;
  return held;
}

// The turn of a rule's next action, as in start-time fair queueing: the
// turn now running, or the turn after the rule's previous action when that
// is later. A rule that queued nothing for a while starts next; one that
// queues much waits its turn behind every other, each in its own order,
// and one that queues again as soon as its action ran gains nothing.
uint64_t next_turn(DaemonContext* ctx, const std::string& ar_path) {
  for (auto& [path, after] : ctx->rule_turns) {
    if (path != ar_path) continue;
    const uint64_t turn = std::max(after, ctx->action_turn);
    after = turn + 1;
    return turn;
  }
  ctx->rule_turns.emplace_back(ar_path, ctx->action_turn + 1);
  return ctx->action_turn;
}

// The turn of the action started last; a rule whose next turn is no later
// is a newcomer again and need not be remembered.
void started_turn(DaemonContext* ctx, uint64_t turn) {
  ctx->action_turn = turn;
  auto& turns = ctx->rule_turns;
  turns.erase(std::remove_if(turns.begin(), turns.end(), [turn](const auto& t) { return t.second <= turn; }),
              turns.end());
}

// Signals a running action and whatever it started: children start as
// leaders of their own process group. A child left in the daemon's group
// (a platform that does not make one) gets the signal alone. The pid
// cannot have been reused: the child is not reaped yet.
void signal_action(pid_t pid, int sig) {
  if (kill(-pid, sig) != 0 && errno == ESRCH) kill(pid, sig);
}

void remove(DaemonContext* ctx, const QueuedAction* target) {
  for (auto it = ctx->action_queue.begin(); it != ctx->action_queue.end(); ++it) {
    if (&*it == target) {
      ctx->action_queue.erase(it);
      --ctx->queued_actions;
      return;
    }
  }
}

// Makes room in a full queue for an action of a rule that holds held of
// it: the newest waiting action of the rule that holds the
// most gives way, when that rule holds more than this one and this one
// less than half. False when nothing gives way.
bool make_room(DaemonContext* ctx, int32_t held) {
  if (2 * held >= ctx->queued_actions) return false;
  const std::string* most = nullptr;
  int32_t most_held = held;
  for (const QueuedAction& qa : ctx->action_queue) {
    const int32_t n = held_by(ctx, qa.ar_path);
    if (n > most_held) {
      most = &qa.ar_path;
      most_held = n;
    }
  }
  if (most == nullptr) return false;
  QueuedAction* victim = nullptr;
  for (QueuedAction& qa : ctx->action_queue) {
    if (qa.state == kQueuedWaiting && qa.ar_path == *most) victim = &qa;
  }
  if (victim == nullptr) return false;  // all of it runs
  ar_log(kLogFatal, "Dropped action: %s for AR: %s - queue full", victim->action_name.c_str(), victim->ar_name.c_str());
  const LogLine line =
      format_log_line("Dropped action: %s for AR: %s - queue full", victim->action_name.c_str(), victim->ar_name.c_str());
  // The entry that queued it is Dropped, while its rule is still the one
  // loaded.
  if (victim->load == ctx->load_count && victim->check_seq < ctx->checks.size()) {
    ArCheck& check = ctx->checks[victim->check_seq];
    if (victim->status_index < check.trigger_count() + check.resolve_count()) {
      check.statuses.data()[victim->status_index] = kActionDropped;
    }
  }
  remove(ctx, victim);
  link_push(&ctx->link, kLogKey, line.text);
  return true;
}

}  // namespace

pid_t PlatformSpawner::spawn(const char* path, char* const argv[], char* const envp[]) {
  return brimvale_proc_exec_env_nowait(path, argv, envp, 2);
}

int action_exit_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  // A killed action is not a success.
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 0;
}

int queue_action(ArCheck* check, const Action& action, ActionStatus* status, const std::string& path,
                 const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag) {
  DaemonContext* ctx = check->conf.ar->daemon;
  const std::string& ar_path = check->conf.ar->path;
  if (ctx->queued_actions > kMaxQueuedActions && !make_room(ctx, held_by(ctx, ar_path))) {
    ar_log(kLogFatal, "Too many queued actions %d", ctx->queued_actions);
    return 1;
  }
  try {
    QueuedAction qa;
    qa.turn = next_turn(ctx, ar_path);
    qa.since = ctx->clock->wall_seconds();
    qa.path = path;
    qa.argv = argv;
    qa.envp = envp;
    qa.tag = tag;
    qa.action_name = action.name;
    qa.action_path = action_path(*check->conf.ar, action);
    qa.ar_name = check->conf.ar->name;
    qa.ar_path = ar_path;
    qa.load = ctx->load_count;
    qa.check_seq = check->seq;
    qa.status_index = static_cast<uint32_t>(status - check->statuses.data());
    ctx->action_queue.push_back(std::move(qa));
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocated queued action");
    return 1;
  }
  ++ctx->queued_actions;
  return start_queued_actions(ctx);
}

int start_queued_actions(DaemonContext* ctx) {
  while (ctx->running_actions < ctx->concurrent_actions) {
    QueuedAction* qa = next_waiting(ctx);
    if (qa == nullptr) return 0;
    started_turn(ctx, qa->turn);
    std::vector<char*> argv = c_array(qa->argv);
    std::vector<char*> envp = c_array(qa->envp);
    const pid_t pid = ctx->spawner->spawn(qa->path.c_str(), qa->argv.empty() ? nullptr : argv.data(),
                                          qa->envp.empty() ? nullptr : envp.data());
    if (pid < 0) {
      // No child exists to reap: the slot and the queue place go at once.
      ar_log(kLogFatal, "Could not start action %s: %s", qa->action_path.c_str(), strerror(errno));
      const LogLine line =
          format_log_line("Could not start action: %s for AR: %s", qa->action_name.c_str(), qa->ar_name.c_str());
      remove(ctx, qa);
      link_push(&ctx->link, kLogKey, line.text);
      continue;
    }
    qa->state = kQueuedRunning;
    qa->pid = pid;
    qa->started = ctx->clock->monotonic_seconds();
    qa->since = ctx->clock->wall_seconds();
    ++ctx->running_actions;
  }
  return 0;
}

void action_child_ended(DaemonContext* ctx, pid_t pid, int wait_status) {
  for (QueuedAction& qa : ctx->action_queue) {
    if (qa.state != kQueuedRunning || qa.pid != pid) continue;
    const int status = action_exit_status(wait_status);
    --ctx->running_actions;
    const LogLine line = format_log_line("Finished action: %s with status %d for AR: %s - %d queued actions remaining",
                                         qa.action_name.c_str(), status, qa.ar_name.c_str(), ctx->queued_actions - 1);
    ar_log(kLogInfo, "Reaped %d - status %d - action %s - %d queued actions remaining", static_cast<int>(pid), status,
           qa.action_path.c_str(), ctx->queued_actions - 1);
    remove(ctx, &qa);
    link_push(&ctx->link, kLogKey, line.text);
    break;
  }
  start_queued_actions(ctx);
}

void action_check_timeouts(DaemonContext* ctx) {
  const int64_t now = ctx->clock->monotonic_seconds();
  for (QueuedAction& qa : ctx->action_queue) {
    if (qa.state != kQueuedRunning) continue;
    if (qa.terminated < 0) {
      // Without a time-out nothing new is ended; but a child already sent
      // SIGTERM still gets its SIGKILL below, even if a reload has since
      // taken the time-out away, or it could hold its slot for ever.
      if (ctx->action_timeout <= 0 || now - qa.started < ctx->action_timeout) continue;
      ar_log(kLogError, "Action timed out: %s for AR: %s", qa.action_name.c_str(), qa.ar_name.c_str());
      const LogLine line = format_log_line("Action timed out: %s for AR: %s", qa.action_name.c_str(),
                                           qa.ar_name.c_str());
      link_push(&ctx->link, kLogKey, line.text);
      signal_action(qa.pid, SIGTERM);
      qa.terminated = now;
    } else if (!qa.killed && now - qa.terminated >= kActionKillGrace) {
      signal_action(qa.pid, SIGKILL);
      qa.killed = true;
    }
  }
}

void reap_action(int /*signal_number*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    // One SIGCHLD may stand for several ended children; collect them all,
    // never waiting for one that is still running.
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) action_child_ended(ctx, pid, status);
  });
}
