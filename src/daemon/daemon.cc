// The composition root: start-up, the wiring of the link, the signals and
// the tick, the boot delay and teardown.
#include "daemon/daemon.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <event2/event.h>
#include <event2/event_compat.h>

#include <sys/wait.h>

#include "actions/queue.h"
#include "base/clock.h"
#include "daemon/context.h"
#include "daemon/daemon_status.h"
#include "daemon/pid_file.h"
#include "daemon/reload.h"
#include "engine/control.h"
#include "engine/deliver.h"
#include "engine/tick.h"
#include "link/link.h"
#include "platform/infod_client.h"

namespace {

constexpr unsigned kSocketRetryPause = 5;
constexpr unsigned kBootDelayPoll = 10;

// A connected, close-on-exec, non-blocking stream socket to infod; -1 when
// none could be made.
int connect_infod(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const socklen_t length = static_cast<socklen_t>(path.size() + 2);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    close(fd);
    return -1;
  }
  // Non-blocking after the connect, so the daemon and infod can never
  // deadlock with both socket buffers full.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  return fd;
}

// The id of the running boot, as the kernel gives it; "-" when unknown.
std::string read_boot_id(const std::string& path) {
  FILE* f = fopen(path.c_str(), "re");
  if (f == nullptr) return "-";
  char line[80] = {};
  const bool ok = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  std::string id = ok ? line : "";
  while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
  const bool plain = !id.empty() && id.size() <= 64 && id.find_first_not_of("0123456789abcdef-") == std::string::npos;
  return plain ? id : "-";
}

// Whole seconds of uptime; false when the file cannot be read.
bool read_uptime(const std::string& path, unsigned long* seconds) {
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return false;
  char line[127] = {};
  const bool ok = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  *seconds = static_cast<unsigned long>(strtol(ok ? line : "", nullptr, 10));
  return true;
}

}  // namespace

int dispatch_message(void* owner, const InfodMessage& message) {
  return take_infod_message(static_cast<DaemonContext*>(owner)->engine, message);
}

int take_infod_message(Engine& engine, const InfodMessage& message) {
  if (message.type == kInfodReply && message.key != nullptr) return engine_reply(engine, message.key, message.value);
  if (message.type != kInfodUpdate) return 0;
  if (message.key == nullptr || message.value == nullptr) {
    ar_log(kLogError, "Invalid message from infod");
    return 0;
  }
  return engine_deliver(engine, message.key, message.number, message.time_ms, message.value);
}

void daemon_tick(int /*fd*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    engine_tick(ctx->engine);
    if (!link_stopped(&ctx->link)) status_publish_tick(ctx);
  });
  ctx->tick_event.add_after(kTickSeconds);
}

void daemon_reap(int /*signal_number*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(&ctx->link, [ctx] {
    // One signal may stand for several ended children; collect them all,
    // never waiting for one that is still running.
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) ctx->queue.child_ended(pid, status);
  });
}

namespace {

// The checks read their settings as they judge each update, so an edited
// file counts from the next update on. Whether the file changed is asked
// once for all the updates of one read of the socket, which arrived
// together, rather than at every setting each of them reads: the
// database is held from the read to the next one, or to the turn's end.
void hold_config_per_read(void* owner, LinkTurn event) {
  auto* ctx = static_cast<DaemonContext*>(owner);
  if (ctx->turn_db != nullptr) xmldb_release(std::exchange(ctx->turn_db, nullptr));
  if (event != LinkTurn::kRead || ctx->config == nullptr || ctx->config->db == nullptr) return;
  if (xmldb_hold(ctx->config->db, nullptr) == 0) ctx->turn_db = ctx->config->db;
}

// The link hands every message to dispatch; a child's end and the tick
// arrive through the loop too. The defaults hold until the configuration
// says otherwise, and the control key is subscribed first of all.
void wire(DaemonContext* ctx, int fd) {
  link_init(&ctx->link, fd, dispatch_message, ctx);
  ctx->link.on_turn = hold_config_per_read;
  ctx->sigchld_event.set(SIGCHLD, EV_SIGNAL | EV_PERSIST, daemon_reap, ctx);
  ctx->sigchld_event.add();
  ctx->tick_event.set(-1, 0, daemon_tick, ctx);
  ctx->tick_event.add_after(kTickSeconds);
  ctx->boot_delay = 0;
  ctx->queue.concurrent_actions = 2;
  link_subscribe(&ctx->link, kControlKey);
  status_publish_start(ctx);
}

void wait_boot_delay(DaemonContext* ctx) {
  bool said = false;
  while (ctx->boot_delay != 0) {
    unsigned long uptime = 0;
    if (!read_uptime(ctx->paths->proc_uptime, &uptime)) return;
    if (ctx->boot_delay <= uptime) return;
    if (!said) ar_log(kLogInfo, "Boot delay: waiting until the system has been up %u s", ctx->boot_delay);
    said = true;
    sleep(kBootDelayPoll);
  }
}

}  // namespace

DaemonContext::DaemonContext(const Paths& paths_in, Clock& clock_in, Spawner& spawner)
    : paths(&paths_in),
      clock(&clock_in),
      spool(paths_in),
      queue(publisher, clock_in, spawner),
      actions{.paths = paths_in, .spool = spool, .clock = clock_in, .publisher = publisher, .queue = queue} {
  link.exit_status = &exit_status;
  engine.publisher = &publisher;
  engine.queue = &queue;
  engine.actions = &actions;
  engine.clock = &clock_in;
  engine.counter = &counter;
  // A restart resumes each rule, and what waited in the queue, from what
  // the daemon kept of them in its state directory.
  engine.records = &records;
  queue.records = &records;
}

int LinkTriggerCounter::fetch(const std::string& key, std::optional<std::string>* stored) {
  if (link_->fd == -1) {
    ar_log(kLogError, "infod socket is closed");
    return -2;
  }
  if (!link_fits(kInfodGet, key, "")) return -1;
  // A synchronous request must not split a message the loop is writing.
  if (link_flush_head(link_) != 0) return -2;
  char* text = nullptr;
  const int got = infod_get_multiple(link_->fd, key.c_str(), &text);
  if (link_after_get(link_) != 0) {
    free(text);
    return -2;
  }
  if (got != 0) return -1;
  stored->reset();
  if (text != nullptr) {
    *stored = std::string(text);
    free(text);
  }
  return 0;
}

void LinkTriggerCounter::save(const std::string& key, const std::string& text) {
  if (!link_fits(kInfodPush, key, text)) return;
  infod_push_multiple_text(link_->fd, key.c_str(), 0, text.c_str());
}

std::optional<int> answer_command_line(int argc, char** argv, const char* usage, const char* help,
                                       const char* version_line) {
  if (argc <= 1) return std::nullopt;
  if (argc == 2 && strcmp(argv[1], "--help") == 0) {
    fputs(usage, stdout);
    fputs(help, stdout);
    return 0;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    fputs(version_line, stdout);
    return 0;
  }
  fputs(usage, stderr);
  return 2;
}

int run_daemon(const char* name, const Paths& paths, LogSink sink) {
  // Until their handlers are installed, a SIGHUP would end the daemon and a
  // SIGCHLD could be lost: both wait, blocked, and then arrive through the
  // loop.
  sigset_t loop_signals;
  sigemptyset(&loop_signals);
  sigaddset(&loop_signals, SIGHUP);
  sigaddset(&loop_signals, SIGCHLD);
  sigprocmask(SIG_BLOCK, &loop_signals, nullptr);
  // Blocks of 64 KiB and more (the link's buffers at start-up and reload,
  // the configuration tree's arrays) are mapped on their own and go back to
  // the system when freed. Left to itself, glibc raises this threshold after
  // the first such block is freed, and later ones stay in the heap, resident
  // or not as its fragmentation decides: up to a megabyte more after one
  // reload than after another.
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
#endif

  SystemClock clock;
  PlatformSpawner spawner;
  DaemonContext ctx(paths, clock, spawner);

  log_open(name, sink);
  const int fd = connect_infod(paths.infod_socket);
  if (fd < 0) {
    ar_log(kLogFatal, "Could not open socket");
    sleep(kSocketRetryPause);
    log_close();
    return -1;
  }
  event_base* base = event_init();
  if (base == nullptr) {
    close(fd);
    log_close();
    return -1;
  }
  // Before the pid is published: arctl signals only the process that holds
  // this file's lock, when infod and the process's start time agree. Without
  // it the daemon still monitors; arctl then refuses to signal it. The
  // descriptor stays open, and the file unopened otherwise, to the end.
  const int pid_fd = pid_file_lock(paths.pid_file, getpid());
  // What a restart takes up, where only root can write it; without it the
  // daemon still monitors, and a restart starts every rule afresh.
  ctx.records.open(paths.state_dir);
  ctx.engine.boot_id = read_boot_id(paths.boot_id);
  // Memory running out while the events are made or the rules loaded is
  // as fatal as in the loop.
  LoopEvent sighup_event;
  run_guarded(&ctx.link, [&ctx, fd, &sighup_event] {
    wire(&ctx, fd);
    sighup_event.set(SIGHUP, EV_SIGNAL | EV_PERSIST, reload_config, &ctx);
    sighup_event.add();
  });
  sigprocmask(SIG_UNBLOCK, &loop_signals, nullptr);
  if (ctx.exit_status < 0) run_guarded(&ctx.link, [&ctx] { open_config(&ctx); });
  if (ctx.exit_status < 0) wait_boot_delay(&ctx);
  if (ctx.exit_status < 0) run_guarded(&ctx.link, [&ctx] { start_config(&ctx); });
  if (ctx.exit_status < 0) {
    link_start_writing(&ctx.link);
    event_loop(0);
  }

  // Orderly teardown, so a run under a leak checker ends with nothing lost.
  sighup_event.reset();
  ctx.link.read_event.reset();
  ctx.link.write_event.reset();
  ctx.link.more_event.reset();
  ctx.tick_event.reset();
  ctx.sigchld_event.reset();
  unload_config(&ctx);
  event_base_free(base);
  infod_buffered_forget(fd);
  close(fd);
  pid_file_release(paths.pid_file, pid_fd);
  log_close();
  return ctx.exit_status >= 0 ? ctx.exit_status : 0;
}
