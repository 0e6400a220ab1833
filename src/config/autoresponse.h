// AutoResponse: one configured rule, and the loader that builds every rule
// and its ArChecks from the configuration database, at start and on SIGHUP.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "config/action.h"
#include "platform/xmldb.h"

struct DaemonContext;

// Where the rules are configured: their "total" and the daemon-wide
// settings under kRulesRoot, rule n under kRulePathPrefix followed by n.
constexpr const char* kRulesRoot = "config.autoresponse";
constexpr const char* kRulePathPrefix = "config.autoresponse.autoresponse";

// The most rules, references per rule and actions per list that are read;
// a larger "total" is a broken setting, not a reason to loop or allocate
// for billions of absent entries. `arctl check` reports against the same.
constexpr int32_t kMaxRules = 10000;
constexpr int32_t kMaxReferences = 1024;
constexpr int32_t kMaxActions = 1024;

struct DisableWindow {
  int32_t start_hour = 0;
  int32_t start_min = 0;
  int32_t end_hour = 0;
  int32_t end_min = 0;
};

struct AutoResponse {
  DaemonContext* daemon = nullptr;
  xmldb_t* config_db = nullptr;  // the database the rule was loaded from
  std::string name;
  std::string path;  // "config.autoresponse.autoresponse%d"
  int32_t check_type = 0;
  uint32_t index = 0;
  int32_t repeat_timeout = 0;
  int32_t reset_timeout = 0;
  bool has_resolve = true;
  bool repeat_trigger = false;
  bool schedule_enabled = false;
  bool delays_read = false;  // the actions' delay_time has been read
  // By weekday, 0 = Sunday; seven windows when schedule_enabled, else none.
  std::unique_ptr<DisableWindow[]> disable;
  ActionList trigger_actions;
  ActionList resolve_actions;
};

// Opens the database and loads it with load_config_from; -1 (logged) when
// it cannot be opened, and nothing changes.
int load_config(DaemonContext* ctx);

// Takes db as the context's database and builds every rule, subscribes
// every ArCheck's key and moves each ArCheck to Normal; reads "boot_delay",
// "concurrent_actions" and "action_timeout".
void load_config_from(DaemonContext* ctx, xmldb_t* db);

// Builds rule number n under path with its ArChecks; 0 when the rule was
// kept (even without ArChecks), -1 when it was rejected (nothing stays).
int load_autoresponse(DaemonContext* ctx, const char* path, int n);

// Releases every ArCheck (unsubscribing its key) and every rule, and
// closes the database. Queued and running actions stay.
void unload_config(DaemonContext* ctx);

// The SIGHUP callback: opens the database anew and, when that works,
// unloads everything and loads it; otherwise everything stays as it was.
void reload_config(int signal_number, short events, void* ctx);
