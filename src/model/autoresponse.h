// AutoResponse: one configured rule, as the loader built it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/action.h"
#include "platform/xmldb.h"

struct CheckType;

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
// The most reports a burst counts: each reference keeps the time of at most
// this many (model/archeck.h), and a larger count is cut to it.
constexpr int32_t kMaxBurstCount = 1000;

// What of a rule's restart record is to be written: the file the next
// process reads, and what infod shows.
constexpr uint8_t kRestartFileDirty = 1;
constexpr uint8_t kRestartShownDirty = 2;

struct DisableWindow {
  int32_t start_hour = 0;
  int32_t start_min = 0;
  int32_t end_hour = 0;
  int32_t end_min = 0;
};

struct AutoResponse {
  xmldb_t* config_db = nullptr;  // the database the rule was loaded from
  CmsNodes* cms = nullptr;       // the central-management nodes of its load
  std::string name;
  std::string path;  // "config.autoresponse.autoresponse%d"
  const CheckType* kind = nullptr;  // the kind its "check_type" names; null for none
  uint32_t index = 0;
  int32_t repeat_timeout = 0;
  int32_t reset_timeout = 0;
  // A burst: a reference triggers only at the burst_count-th report of a
  // trigger by its check within burst_window seconds. Both 0 for a rule
  // without one, whose every report triggers.
  int32_t burst_count = 0;
  int32_t burst_window = 0;
  bool has_resolve = true;
  bool repeat_trigger = false;
  bool schedule_enabled = false;
  bool delays_read = false;  // the actions' delay_time has been read
  uint8_t restart_dirty = 0;  // kRestart...Dirty: its restart record is to be written (engine/restart.h)
  // A hash of everything under path as loaded (platform/xmldb.h), by which
  // a reload tells a rule it need not build again.
  uint64_t fingerprint = 0;
  // The fingerprint its restart records carry (engine/restart.h), set
  // when its references are adopted.
  uint64_t restart_fingerprint = 0;
  // By weekday, 0 = Sunday; seven windows when schedule_enabled, else none.
  std::unique_ptr<DisableWindow[]> disable;
  ActionList trigger_actions;
  ActionList resolve_actions;
  // The names under hold_while, as read; the rules they name, by number,
  // and the rules that name this one, as the last load resolved them
  // (config/hold_while.h).
  std::vector<std::string> hold_names;
  std::vector<uint32_t> holds;
  std::vector<uint32_t> held;
  // Whether a reference of this rule was Triggered or Resolving when the
  // engine last looked (engine/hold.h).
  bool holding = false;
};
