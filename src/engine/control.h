// Control commands: texts written into infod's "config.autoresponse.command"
// key that steer a running AutoResponse. The text is three comma-separated
// fields: the rule's configuration path, who sent it, and the command.
#pragma once

struct ArCheck;
struct Engine;

struct ControlCommand {
  const char* verb;
  int (*handler)(Engine& engine, ArCheck* check, const char* origin, const char* command);
};

struct ControlTable {
  const char* key;                 // the infod key commands arrive under
  const ControlCommand* commands;  // ends with a null verb
};

extern const ControlTable kControlTable;

// Carries one command text out. Anyone with access to the appliance's
// interfaces can write one, so a malformed or unknown command is logged
// and ignored (0); the daemon goes on.
int control_handle(Engine& engine, const char* text);

// "cancel": sends a Triggered or Resolving reference into Timeout.
int control_cancel(Engine& engine, ArCheck* check, const char* origin, const char* command);

// Pushes "Control Message from %s: %s -> %s" to the log key.
int control_log(Engine& engine, const char* path, const char* origin, const char* command);
