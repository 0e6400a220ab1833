// The daemon's own status in infod, under "config.autoresponse.daemon",
// so that arctl and the administrator see what the daemon runs rather than
// what the file says: who it is, that it is alive, what its last load
// found and loaded, and what waits and runs in its action queue. A few
// keys per load and per tick, and at a tick one for each reference that had
// an update since the last (its latest value). Lists that grow
// with the configuration go over several keys (link/value_parts.h), so no
// message exceeds what infod takes.
#pragma once

#include <cstdint>
#include <string>

struct DaemonContext;

// Where the keys are.
constexpr const char* kDaemonStatusKey = "config.autoresponse.daemon";

// The keys under kDaemonStatusKey, and what each holds:
constexpr const char* kStatusPid = "pid";                   // the daemon's process id
// Its start time as the kernel has it (base/process_start.h): with the pid
// file, what tells the daemon from a process that took or published its pid.
constexpr const char* kStatusPidStartTime = "pid.starttime";
constexpr const char* kStatusStarted = "started";           // seconds since the epoch
constexpr const char* kStatusHeartbeat = "heartbeat";       // the last tick's wall time, every tick
constexpr const char* kStatusReloadTime = "reload.time";    // when the last load ran
constexpr const char* kStatusReloadMtime = "reload.mtime";  // the loaded file's modification time
// The checksum of the bytes the load parsed (platform/file_checksum.h).
constexpr const char* kStatusReloadChecksum = "reload.checksum";
constexpr const char* kStatusRules = "rules";               // rules loaded
constexpr const char* kStatusReferences = "references";     // references loaded
// The rules loaded, in parts: "NUMBER REFERENCES CHECK_TYPE NAME" each,
// joined by ';': REFERENCES the numbers of the references made, as
// runs ("1-3,5"; "-" for none), the name with '%', ';', blanks and control
// bytes as %XX. The key holds the number of parts, "0" for no rule.
constexpr const char* kStatusLoaded = "loaded";
// The action queue, in parts as loaded: "running|waiting SINCE RULE_PATH
// ACTION_PATH NAME" each, in queue order, joined by ';'; SINCE is when it
// started or was queued, NAME the action's name escaped as the loaded
// list escapes names.
constexpr const char* kStatusQueue = "queue";
// The bursts counting, in parts as loaded: "RULE REF COUNT OLDEST" each,
// COUNT the reports within the rule's window, OLDEST the wall time in
// milliseconds of the first of them.
constexpr const char* kStatusBursts = "bursts";
// The holds in force, in parts as loaded: "RULE REF HOLDER ACTIONS" for
// each reference held back while rule HOLDER is Triggered or Resolving,
// ACTIONS the names of the actions held so far, escaped as the loaded list
// escapes names and joined by ',' ("-" for none yet).
constexpr const char* kStatusHolds = "holds";
// The actions that ended last (at most 32), oldest first, in parts as
// loaded: "TIME RULE_PATH STATUS NAME" each, TIME when it ended in wall
// milliseconds, NAME escaped as the loaded list escapes names.
constexpr const char* kStatusFinished = "finished";
// Under "latest.RULE.REF": the latest update of each reference's key, as
// "TIME VALUE" (wall milliseconds): a level's whether its reference took it
// or not, an event's only as its reference took it (an event dropped is
// gone); published at the tick after it came, one key per reference that
// had one.
constexpr const char* kStatusLatest = "latest";
// What the last load that opened its file kept and started again
// (engine/dispatch.h, reload_outcome_text); "-" for the first load.
constexpr const char* kStatusReloadChanges = "reload.changes";
// The number of the last load since the daemon started, 1 for its first,
// failed loads included; published after all the load's other keys and
// just before its result.
constexpr const char* kStatusReloadNumber = "reload.number";
// "ok", or why the file could not be opened: the last key of a load.
constexpr const char* kStatusReloadResult = "reload.result";

// The key of one of them.
std::string daemon_status_key(const char* name);

// The name as the loaded list carries it, and back.
std::string status_escape(const std::string& text);
std::string status_unescape(const std::string& text);

// At start: the process id and its start time, the start time in wall
// seconds and a first heartbeat.
void status_publish_start(DaemonContext* ctx);

// After a load, opened or not: its time, the facts of the bytes it read,
// the rules and references loaded, its number and, last, its result. A
// failed load keeps the facts and rules of the one still running.
void status_publish_load(DaemonContext* ctx, bool opened, const std::string& changes = "-");

// Every tick: the heartbeat; the queue and the bursts when they have
// changed; the latest updates that came since the last.
void status_publish_tick(DaemonContext* ctx);

// The queue when it has changed, at once (at start: the queue the last
// process showed is not the one that runs now).
void status_publish_queue(DaemonContext* ctx);
