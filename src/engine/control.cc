// The control-command table and its handlers.
#include "engine/control.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/log_line.h"
#include "engine/engine.h"
#include "engine/hold.h"
#include "engine/restart.h"
#include "engine/silence.h"
#include "engine/state.h"
#include "model/autoresponse.h"
#include "model/publisher.h"

namespace {

const ControlCommand kCommands[] = {
    {"cancel", false, control_cancel},
    {"silence", true, control_silence},
    {"unsilence", true, control_unsilence},
    {nullptr, false, nullptr},
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
    const bool match = c->exact ? strcmp(command, c->verb) == 0 : strncmp(command, c->verb, strlen(c->verb)) == 0;
    if (match) {
      c->handler(engine, target, origin, command, pos);
      return 0;
    }
  }
  ar_log(kLogFatal, "Unknown action: %s", command);
  return 0;
}

}  // namespace

int control_handle(Engine& engine, const char* text) {
  const int result = handle(engine, text);
  holds_settle(engine);
  restart_write(engine);
  return result;
}

int control_cancel(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* /*args*/) {
  if (check->state == kArTriggered || check->state == kArResolving) {
    control_log(engine, check->conf.ar->path.c_str(), origin, command);
    reference_drop_delayed(check, "it was cancelled");
    reference_timeout(engine, check);
    check->cancelled = true;
  } else {
    ar_log(kLogInfo, "AR %s not in the correct state to perform %s", check->conf.ar->path.c_str(), command);
  }
  return 0;
}

int control_log(Engine& engine, const char* path, const char* origin, const char* command) {
  const LogLine line = format_log_line("Control Message from %s: %s -> %s", origin, path, command);
  return engine.publisher->push_log(line.text);
}

namespace {

// A number in decimal digits alone; false for anything else. One past
// 32 bits reads as UINT32_MAX, which is past every bound.
bool read_count(const char* text, uint32_t* n) {
  if (text == nullptr || *text == '\0' || text[strspn(text, "0123456789")] != '\0') return false;
  uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(*p - '0'), UINT32_MAX);
  }
  *n = static_cast<uint32_t>(value);
  return true;
}

int refuse(int priority, const char* verb, const ArCheck* check, const std::string& why) {
  ar_log(priority, "Refused %s for AR %s: %s", verb, check->conf.ar->path.c_str(), why.c_str());
  return 0;
}

// What the log line says was asked: the command and its arguments as sent.
std::string asked(const char* command, const char* args) {
  return *args == '\0' ? std::string(command) : std::string(command) + "," + args;
}

}  // namespace

int control_silence(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args) {
  std::string copy(args);
  char* pos = copy.data();
  const char* seconds_text = next_field(&pos);
  const char* ref_text = seconds_text != nullptr ? next_field(&pos) : nullptr;
  const char* reason = pos + strspn(pos, ",");
  uint32_t seconds = 0, ref = 0;
  if (!read_count(seconds_text, &seconds)) return refuse(kLogFatal, "silence", check, "no number of seconds");
  if (!read_count(ref_text, &ref)) return refuse(kLogFatal, "silence", check, "no reference number");
  const std::string why = silence_add(engine, check, ref, seconds, origin, reason);
  if (!why.empty()) return refuse(kLogInfo, "silence", check, why);
  control_log(engine, check->conf.ar->path.c_str(), origin, asked(command, args).c_str());
  return 0;
}

int control_unsilence(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args) {
  std::string copy(args);
  char* pos = copy.data();
  uint32_t ref = 0;
  if (!read_count(next_field(&pos), &ref)) return refuse(kLogFatal, "unsilence", check, "no reference number");
  const std::string why = silence_lift(engine, check, ref, origin);
  if (!why.empty()) return refuse(kLogInfo, "unsilence", check, why);
  control_log(engine, check->conf.ar->path.c_str(), origin, asked(command, args).c_str());
  return 0;
}
