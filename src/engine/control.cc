// The control-command table and its handlers.
#include "engine/control.h"

#include <cstring>
#include <string>

#include "config/autoresponse.h"
#include "core/context.h"
#include "core/link.h"
#include "core/log.h"
#include "core/log_line.h"
#include "engine/state.h"

namespace {

const ControlCommand kCommands[] = {
    {"cancel", control_cancel},
    {nullptr, nullptr},
};

// strtok on "," over a private copy: leading commas skipped, runs of commas
// count as one, so empty fields vanish.
const char* next_field(char** pos) {
  char* p = *pos + strspn(*pos, ",");
  if (*p == '\0') return nullptr;
  char* start = p;
  p += strcspn(p, ",");
  if (*p != '\0') *p++ = '\0';
  *pos = p;
  return start;
}

}  // namespace

const ControlTable kControlTable = {"config.autoresponse.command", kCommands};

int control_handle(DaemonContext* ctx, const char* text) {
  std::string copy(text);
  char* pos = copy.data();
  const char* path = next_field(&pos);
  const char* origin = path != nullptr ? next_field(&pos) : nullptr;
  const char* command = origin != nullptr ? next_field(&pos) : nullptr;
  if (command == nullptr) {
    ar_log(kLogFatal, "Invalid control message received");
    return 0;
  }
  ArCheck* target = nullptr;
  for (ArCheck& check : ctx->checks) {
    if (check.conf.ar->path == path) {
      target = &check;
      break;
    }
  }
  if (target == nullptr) {
    ar_log(kLogFatal, "Control message for invalid AR received");
    return 0;
  }
  for (const ControlCommand* c = kControlTable.commands; c->verb != nullptr; ++c) {
    if (strncmp(command, c->verb, strlen(c->verb)) == 0) {
      c->handler(target, origin, command);
      return 0;
    }
  }
  ar_log(kLogFatal, "Unknown action: %s", command);
  return 0;
}

int control_cancel(ArCheck* check, const char* origin, const char* command) {
  if (check->state == kArTriggered || check->state == kArResolving) {
    control_log(check->conf.ar->daemon, check->conf.ar->path.c_str(), origin, command);
    ar_drop_delayed(check, "it was cancelled");
    ar_timeout(check);
  } else {
    ar_log(kLogInfo, "AR %s not in the correct state to perform %s", check->conf.ar->path.c_str(), command);
  }
  return 0;
}

int control_log(DaemonContext* ctx, const char* path, const char* origin, const char* command) {
  const LogLine line = format_log_line("Control Message from %s: %s -> %s", origin, path, command);
  return link_push(&ctx->link, kLogKey, line.text);
}
