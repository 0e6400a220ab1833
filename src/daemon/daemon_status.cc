// The daemon's status keys.
#include "daemon/daemon_status.h"

#include <unistd.h>

#include <cstdio>

#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "model/check_kind.h"
#include "config/config_file.h"
#include "daemon/context.h"
#include "link/link.h"

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
    text += number(qa.since) + " " + qa.ar_path + " " + qa.action_path;
  }
  return text;
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
  push(ctx, kStatusPid, number(getpid()));
  push(ctx, kStatusStarted, number(ctx->clock->wall_seconds()));
  push(ctx, kStatusHeartbeat, number(ctx->clock->wall_seconds()));
}

void status_publish_load(DaemonContext* ctx, bool opened) {
  const std::string& file = ctx->paths->config_file;
  push(ctx, kStatusReloadTime, number(ctx->clock->wall_seconds()));
  if (!opened) {
    const std::string problem = config_file_problem(file);
    ar_log(kLogFatal, "Could not open %s", problem.c_str());
    push(ctx, kStatusReloadResult, problem);
    return;
  }
  push(ctx, kStatusReloadResult, "ok");
  const ConfigFileFacts facts = config_file_facts(file);
  push(ctx, kStatusReloadMtime, number(facts.mtime));
  push(ctx, kStatusReloadChecksum, facts.checksum);
  size_t references = 0;
  const std::string loaded = loaded_rules(ctx, &references);
  push(ctx, kStatusRules, number(static_cast<int64_t>(ctx->config->rules.size())));
  push(ctx, kStatusReferences, number(static_cast<int64_t>(references)));
  push(ctx, kStatusLoaded, loaded.empty() ? "-" : loaded);
}

void status_publish_tick(DaemonContext* ctx) {
  push(ctx, kStatusHeartbeat, number(ctx->clock->wall_seconds()));
  // Never empty ("-" for none), so the first tick always differs from the
  // empty text nothing was published as.
  std::string queue = queue_text(ctx);
  if (queue.empty()) queue = "-";
  if (queue == ctx->published_queue) return;
  push(ctx, kStatusQueue, queue);
  ctx->published_queue = std::move(queue);
}
