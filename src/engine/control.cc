// The control commands' handlers.
#include "engine/control.h"

#include <algorithm>
#include <string>
#include <string_view>

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

ArCheck* first_check_of(Engine& engine, const std::string& path) {
  if (engine.checks == nullptr) return nullptr;
  for (ArCheck& check : *engine.checks) {
    if (check.conf.ar->path() == path) return &check;
  }
  return nullptr;
}

std::string handle(Engine& engine, const char* text) {
  const std::optional<ControlText> parsed = control_text_parse(text);
  if (!parsed) return ar_log_text(kLogFatal, "Invalid control message received");
  ArCheck* target = first_check_of(engine, parsed->path);
  if (target == nullptr) return ar_log_text(kLogFatal, "Control message for invalid AR received");
  const std::optional<ControlVerb> verb = control_verb_of(parsed->command);
  if (!verb) return ar_log_text(kLogFatal, "Unknown action: %s", parsed->command.c_str());
  switch (*verb) {
    case ControlVerb::kCancel:
      return control_cancel(engine, target, *parsed);
    case ControlVerb::kSilence:
      return control_silence(engine, target, *parsed);
    case ControlVerb::kUnsilence:
      return control_unsilence(engine, target, *parsed);
  }
  return "";
}

// The reason as the log has it, escaped, and within what infod takes: a
// refusal quotes the command field, which may be as long as a message.
std::string answered_reason(const std::string& refusal) {
  constexpr size_t kMaxReason = 512;
  size_t size = std::min(refusal.size(), kMaxReason);
  while (size > 0 && size < refusal.size() && (static_cast<unsigned char>(refusal[size]) & 0xc0) == 0x80) --size;
  std::string escaped;
  log_escape(&escaped, std::string_view(refusal).substr(0, size));
  return escaped;
}

}  // namespace

int control_handle(Engine& engine, const char* text) {
  std::string_view rest(text);
  const std::optional<std::string> id = control_id_take(&rest);
  const std::string refusal = handle(engine, std::string(rest).c_str());
  holds_settle(engine);
  restart_write(engine);
  // The answer comes after all the command changed, so a sender that sees
  // it finds the states and records as they now are.
  if (id) {
    const ControlResult result{*id, refusal.empty(), answered_reason(refusal)};
    engine.publisher->push(kControlResultKey, 0, control_result_format(result).c_str());
  }
  return 0;
}

std::string control_cancel(Engine& engine, ArCheck* check, const ControlText& text) {
  if (check->state != kArTriggered && check->state != kArResolving) {
    return ar_log_text(kLogInfo, "AR %s not in the correct state to perform %s", check->conf.ar->path().c_str(),
                       text.command.c_str());
  }
  control_log(engine, check->conf.ar->path().c_str(), text.origin.c_str(), text.command.c_str());
  reference_drop_delayed(check, "it was cancelled");
  reference_timeout(engine, check);
  check->cancelled = true;
  return "";
}

int control_log(Engine& engine, const char* path, const char* origin, const char* command) {
  const LogLine line = format_log_line("Control Message from %s: %s -> %s", origin, path, command);
  return engine.publisher->push_log(line.text);
}

namespace {

std::string refuse(int priority, const char* verb, const ArCheck* check, const std::string& why) {
  return ar_log_text(priority, "Refused %s for AR %s: %s", verb, check->conf.ar->path().c_str(), why.c_str());
}

// What the log line says was asked: the command and its arguments as sent.
std::string asked(const ControlText& text) {
  return text.args.empty() ? text.command : text.command + "," + text.args;
}

}  // namespace

std::string control_silence(Engine& engine, ArCheck* check, const ControlText& text) {
  SilenceArgs args;
  std::string why;
  if (!silence_args_parse(text.args, &args, &why)) return refuse(kLogFatal, "silence", check, why);
  why = silence_add(engine, check, args.ref, args.seconds, text.origin, args.reason.value_or(""));
  if (!why.empty()) return refuse(kLogInfo, "silence", check, why);
  control_log(engine, check->conf.ar->path().c_str(), text.origin.c_str(), asked(text).c_str());
  return "";
}

std::string control_unsilence(Engine& engine, ArCheck* check, const ControlText& text) {
  uint32_t ref = 0;
  std::string why;
  if (!unsilence_args_parse(text.args, &ref, &why)) return refuse(kLogFatal, "unsilence", check, why);
  why = silence_lift(engine, check, ref, text.origin);
  if (!why.empty()) return refuse(kLogInfo, "unsilence", check, why);
  control_log(engine, check->conf.ar->path().c_str(), text.origin.c_str(), asked(text).c_str());
  return "";
}
