// The daemon's status keys.
#include "daemon/daemon_status.h"

#include <unistd.h>

#include <cstdio>

#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/process_start.h"
#include "model/check_kind.h"
#include "config/config_file.h"
#include "daemon/context.h"
#include "engine/hold.h"
#include "link/link.h"
#include "link/value_parts.h"

namespace {

void push(DaemonContext* ctx, const char* name, const std::string& value) {
  link_push(&ctx->link, daemon_status_key(name).c_str(), value.c_str());
}

std::string number(int64_t n) { return std::to_string(n); }

// The loaded list: each rule with the numbers of its references as runs
// ("1-3,5"; a reference the loader could not make leaves a gap).
std::string loaded_rules(const DaemonContext* ctx, size_t* references) {
  std::string text;
  *references = 0;
  auto check = ctx->config->checks.begin();
  for (const AutoResponse& ar : ctx->config->rules) {
    std::string refs;
    uint32_t first = 0, last = 0;
    const auto end_run = [&] {
      if (first == 0) return;
      if (!refs.empty()) refs += ',';
      refs += number(first) + (last > first ? "-" + number(last) : "");
    };
    for (; check != ctx->config->checks.end() && check->conf.ar == &ar; ++check) {
      ++*references;
      const uint32_t n = check->conf.ref_index;
      if (first != 0 && n == last + 1) {
        last = n;
        continue;
      }
      end_run();
      first = last = n;
    }
    end_run();
    if (!text.empty()) text += ';';
    const char* kind = ar.kind != nullptr ? ar.kind->name : "-";
    text += number(ar.index) + " " + (refs.empty() ? "-" : refs) + " " + kind + " " + status_escape(ar.name);
  }
  return text;
}

std::string queue_text(const DaemonContext* ctx) {
  std::string text;
  for (const QueuedAction& qa : ctx->queue.entries()) {
    if (!text.empty()) text += ';';
    text += qa.state == kQueuedRunning ? "running " : "waiting ";
    text += number(qa.since) + " " + qa.ar_path + " " + qa.action_path + " " + status_escape(qa.action_name);
  }
  return text;
}

std::string bursts_text(const DaemonContext* ctx) {
  std::string text;
  if (ctx->config == nullptr) return text;
  const int64_t now = ctx->clock->monotonic_ms(), shift = ctx->clock->wall_ms() - now;
  for (const ArCheck& check : ctx->config->checks) {
    if (!check.burst) continue;
    int64_t oldest = 0;
    const size_t n = check.burst->counted(now, static_cast<int64_t>(check.conf.ar->burst_window) * 1000, &oldest);
    if (n == 0) continue;
    if (!text.empty()) text += ';';
    text += number(check.conf.ar->index) + " " + number(check.conf.ref_index) + " " + number(static_cast<int64_t>(n)) +
            " " + number(oldest + shift);
  }
  return text;
}

// A name in a list joined by ',': escaped as names are, and ',' too.
std::string listed(const std::string& name) {
  std::string out;
  for (const char c : status_escape(name)) out += c == ',' ? std::string("%2C") : std::string(1, c);
  return out;
}

std::string holds_text(DaemonContext* ctx) {
  std::string text;
  if (ctx->config == nullptr) return text;
  for (ArCheck& check : ctx->config->checks) {
    if (check.conf.ar->holds().empty()) continue;
    const AutoResponse* holder = hold_covering(ctx->engine, check);
    if (holder == nullptr) continue;
    std::string names;
    const ActionStatus* statuses = check.statuses.data();
    for (size_t i = 0; i < check.trigger_count(); ++i) {
      if (statuses[i] == kActionHeld) names += (names.empty() ? "" : ",") + listed(check.conf.ar->trigger_actions[i].name);
    }
    if (check.held_resolve) {
      for (const uint32_t j : check.held_resolve->actions) {
        if (j < check.resolve_count()) {
          names += (names.empty() ? "" : ",") + listed(check.conf.ar->resolve_actions[j].name);
        }
      }
    }
    if (!text.empty()) text += ';';
    text += number(check.conf.ar->index) + " " + number(check.conf.ref_index) + " " + number(holder->index) + " " +
            (names.empty() ? "-" : names);
  }
  return text;
}

// The latest update of each reference that had one since the last tick.
void publish_latest(DaemonContext* ctx) {
  if (ctx->config == nullptr) return;
  for (ArCheck& check : ctx->config->checks) {
    if (!check.latest_unshown) continue;
    check.latest_unshown = false;
    const CheckEvent* latest = check.last ? check.last.get() : check.current_event.get();
    if (latest == nullptr) continue;
    const std::string key = daemon_status_key(kStatusLatest) + "." + number(check.conf.ar->index) + "." +
                            number(check.conf.ref_index);
    link_push(&ctx->link, key.c_str(), (number(static_cast<int64_t>(latest->time_ms)) + " " + latest->value).c_str());
  }
}

}  // namespace

std::string daemon_status_key(const char* name) { return std::string(kDaemonStatusKey) + "." + name; }

std::string status_escape(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7f || c == '%' || c == ';') {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string status_unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned value = 0;
    if (text[i] == '%' && i + 2 < text.size() && sscanf(text.c_str() + i + 1, "%2x", &value) == 1) {
      out += static_cast<char>(value);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void status_publish_start(DaemonContext* ctx) {
  const pid_t pid = getpid();
  push(ctx, kStatusPid, number(pid));
  push(ctx, kStatusPidStartTime, process_start_time(pid));
  push(ctx, kStatusStarted, number(ctx->clock->wall_seconds()));
  push(ctx, kStatusHeartbeat, number(ctx->clock->wall_seconds()));
}

void status_publish_load(DaemonContext* ctx, bool opened, const std::string& changes) {
  push(ctx, kStatusReloadTime, number(ctx->clock->wall_seconds()));
  std::string result = "ok";
  if (!opened) {
    result = config_file_problem(ctx->paths->config_file);
    ar_log(kLogFatal, "Could not open %s", result.c_str());
  } else {
    // The facts of the bytes the load parsed, not of the file as it may be
    // by now.
    push(ctx, kStatusReloadMtime, number(ctx->config->source.mtime));
    push(ctx, kStatusReloadChecksum, ctx->config->source.checksum);
    size_t references = 0;
    const std::string loaded = loaded_rules(ctx, &references);
    push(ctx, kStatusRules, number(static_cast<int64_t>(ctx->config->rules.size())));
    push(ctx, kStatusReferences, number(static_cast<int64_t>(references)));
    link_push_parts(&ctx->link, daemon_status_key(kStatusLoaded), loaded, ';');
    push(ctx, kStatusReloadChanges, changes);
  }
  // Last, so that a reader who sees this load's result finds all of the
  // load's other keys in place.
  push(ctx, kStatusReloadNumber, number(static_cast<int64_t>(++ctx->loads)));
  push(ctx, kStatusReloadResult, result);
}

void status_publish_queue(DaemonContext* ctx) {
  std::string queue = queue_text(ctx);
  if (queue == ctx->published_queue) return;
  link_push_parts(&ctx->link, daemon_status_key(kStatusQueue), queue, ';');
  ctx->published_queue = std::move(queue);
}

void status_publish_tick(DaemonContext* ctx) {
  push(ctx, kStatusHeartbeat, number(ctx->clock->wall_seconds()));
  status_publish_queue(ctx);
  std::string bursts = bursts_text(ctx);
  if (bursts != ctx->published_bursts) {
    link_push_parts(&ctx->link, daemon_status_key(kStatusBursts), bursts, ';');
    ctx->published_bursts = std::move(bursts);
  }
  std::string finished;
  for (const ActionQueue::Finished& f : ctx->queue.finished()) {
    if (!finished.empty()) finished += ';';
    finished += number(f.wall_ms) + " " + f.ar_path + " " + number(f.status) + " " + status_escape(f.action_name);
  }
  if (finished != ctx->published_finished) {
    link_push_parts(&ctx->link, daemon_status_key(kStatusFinished), finished, ';');
    ctx->published_finished = std::move(finished);
  }
  std::string holds = holds_text(ctx);
  if (holds != ctx->published_holds) {
    link_push_parts(&ctx->link, daemon_status_key(kStatusHolds), holds, ';');
    ctx->published_holds = std::move(holds);
  }
  publish_latest(ctx);
}
