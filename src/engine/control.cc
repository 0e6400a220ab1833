// The control-command table and its handlers.
#include "engine/control.h"

#include <cstring>
#include <string>

#include "base/log.h"
#include "base/log_line.h"
#include "engine/engine.h"
#include "engine/kept.h"
#include "engine/state.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

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

namespace {

int handle(Engine& engine, const char* text) {
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
  if (engine.checks != nullptr) {
    for (ArCheck& check : *engine.checks) {
      if (check.conf.ar->path == path) {
        target = &check;
        break;
      }
    }
  }
  if (target == nullptr) {
    ar_log(kLogFatal, "Control message for invalid AR received");
    return 0;
  }
  for (const ControlCommand* c = kControlTable.commands; c->verb != nullptr; ++c) {
    if (strncmp(command, c->verb, strlen(c->verb)) == 0) {
      c->handler(engine, target, origin, command);
      return 0;
    }
  }
  ar_log(kLogFatal, "Unknown action: %s", command);
  return 0;
}

}  // namespace

int control_handle(Engine& engine, const char* text) {
  const int result = handle(engine, text);
  engine_write_kept(engine);
  return result;
}

int control_cancel(Engine& engine, ArCheck* check, const char* origin, const char* command) {
  if (check->state == kArTriggered || check->state == kArResolving) {
    control_log(engine, check->conf.ar->path.c_str(), origin, command);
    ar_drop_delayed(check, "it was cancelled");
    ar_timeout(engine, check);
  } else {
    ar_log(kLogInfo, "AR %s not in the correct state to perform %s", check->conf.ar->path.c_str(), command);
  }
  return 0;
}

int control_log(Engine& engine, const char* path, const char* origin, const char* command) {
  const LogLine line = format_log_line("Control Message from %s: %s -> %s", origin, path, command);
  return engine.publisher->push_log(line.text);
}
