// Control commands: the texts that arrive under infod's control key
// (engine/control_text.h tells their fields and verbs) and steer a running
// AutoResponse.
#pragma once

#include <string>

#include "engine/control_text.h"

struct ArCheck;
struct Engine;

// Carries one command text out. Anyone with access to the appliance's
// interfaces can write one, so a malformed or unknown command is logged
// and ignored (0); the daemon goes on. A text with an id is answered under
// kControlResultKey once it is carried out or refused.
int control_handle(Engine& engine, const char* text);

// The verbs' handlers, for the command's text parsed and the rule's first
// reference. Each logs what it did or why it refused, and returns the
// refusal as logged (empty when it acted).
// "cancel": sends a Triggered or Resolving reference into Timeout.
std::string control_cancel(Engine& engine, ArCheck* check, const ControlText& text);
// "silence" and "unsilence" (engine/silence.h). A text that does not parse
// is refused at priority 0, one the bounds refuse at 600, as
// "Refused silence for AR PATH: WHY"; nothing changes then.
std::string control_silence(Engine& engine, ArCheck* check, const ControlText& text);
std::string control_unsilence(Engine& engine, ArCheck* check, const ControlText& text);

// Pushes "Control Message from %s: %s -> %s" to the log key.
int control_log(Engine& engine, const char* path, const char* origin, const char* command);
