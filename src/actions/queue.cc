// The action queue, its runner and its reaper.
#include "actions/queue.h"

#include <signal.h>
#include <sys/wait.h>

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

QueuedAction* first_waiting(DaemonContext* ctx) {
  for (QueuedAction& qa : ctx->action_queue) {
    if (qa.state == kQueuedWaiting) return &qa;
  }
  return nullptr;
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

int queue_action(ArCheck* check, const Action& action, const std::string& path, const std::vector<std::string>& argv,
                 const std::vector<std::string>& envp, int32_t tag) {
  DaemonContext* ctx = check->conf.ar->daemon;
  if (ctx->queued_actions > kMaxQueuedActions) {
    ar_log(kLogFatal, "Too many queued actions %d", ctx->queued_actions);
    return 1;
  }
  try {
    QueuedAction qa;
    qa.path = path;
    qa.argv = argv;
    qa.envp = envp;
    qa.tag = tag;
    qa.action_name = action.name;
    qa.action_path = action_path(*check->conf.ar, action);
    qa.ar_name = check->conf.ar->name;
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
    QueuedAction* qa = first_waiting(ctx);
    if (qa == nullptr) return 0;
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
