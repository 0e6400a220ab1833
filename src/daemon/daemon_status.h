// The daemon's own status in infod, under "config.autoresponse.daemon",
// so that arctl and the administrator see what the daemon runs rather than
// what the file says: who it is, that it is alive, what its last load
// found and loaded, and what waits and runs in its action queue. A few
// keys per load and one per tick; never a key per rule.
#pragma once

#include <cstdint>
#include <string>

struct DaemonContext;

// Where the keys are.
constexpr const char* kDaemonStatusKey = "config.autoresponse.daemon";

// The keys under kDaemonStatusKey, and what each holds:
constexpr const char* kStatusPid = "pid";                   // the daemon's process id
constexpr const char* kStatusStarted = "started";           // seconds since the epoch
constexpr const char* kStatusHeartbeat = "heartbeat";       // the last tick's wall time, every tick
constexpr const char* kStatusReloadTime = "reload.time";    // when the last load ran
constexpr const char* kStatusReloadResult = "reload.result";  // "ok", or why the file could not be opened
constexpr const char* kStatusReloadMtime = "reload.mtime";  // the loaded file's modification time
constexpr const char* kStatusReloadChecksum = "reload.checksum";  // and its checksum (config/config_file.h)
constexpr const char* kStatusRules = "rules";               // rules loaded
constexpr const char* kStatusReferences = "references";     // references loaded
// The rules loaded: "NUMBER REFERENCES CHECK_TYPE NAME" each, joined by
// ';': REFERENCES the numbers of the references made, as runs ("1-3,5"; "-"
// for none), the name with '%', ';', blanks and control bytes as %XX; "-"
// for no rule.
constexpr const char* kStatusLoaded = "loaded";
// The action queue: "running|waiting SINCE RULE_PATH ACTION_PATH" each, in
// queue order, joined by ';'; SINCE is when it started or was queued; "-"
// for none.
constexpr const char* kStatusQueue = "queue";

// The key of one of them.
std::string daemon_status_key(const char* name);

// The name as the loaded list carries it, and back.
std::string status_escape(const std::string& text);
std::string status_unescape(const std::string& text);

// At start: the process id, the start time and a first heartbeat.
void status_publish_start(DaemonContext* ctx);

// After a load, opened or not: its time and result, the file's facts, the
// rules and references loaded. A failed load keeps the facts of the file
// still running.
void status_publish_load(DaemonContext* ctx, bool opened);

// Every tick: the heartbeat, and the queue when it has changed.
void status_publish_tick(DaemonContext* ctx);
