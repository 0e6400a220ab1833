// Control commands: texts written into infod's "config.autoresponse.command"
// key that steer a running AutoResponse. The text is comma-separated fields:
// the rule's configuration path, who sent it, the command, and what the
// command takes (cancel nothing; whatever follows is ignored):
//   PATH,ORIGIN,cancel
//   PATH,ORIGIN,silence,SECONDS,REF[,REASON]   (REF 0: every reference;
//                                              REASON is the rest, commas too)
//   PATH,ORIGIN,unsilence,REF                  (REF 0: every silence)
// Leading commas and runs of commas count as one separator.
#pragma once

struct ArCheck;
struct Engine;

struct ControlCommand {
  const char* verb;
  // The command field must be the verb itself; otherwise any field that
  // begins with it counts, as peers of the oldest verb, cancel, rely on.
  bool exact;
  // check is the rule's first reference; command the command's field as
  // sent, args the text after it, as sent ("" for none).
  int (*handler)(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args);
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
int control_cancel(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args);

// "silence" and "unsilence" (engine/silence.h). A text that does not parse
// is refused at priority 0, one the bounds refuse at 600, as
// "Refused silence for AR PATH: WHY"; nothing changes then.
int control_silence(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args);
int control_unsilence(Engine& engine, ArCheck* check, const char* origin, const char* command, const char* args);

// Pushes "Control Message from %s: %s -> %s" to the log key.
int control_log(Engine& engine, const char* path, const char* origin, const char* command);
