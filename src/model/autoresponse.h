// AutoResponse: one configured rule, as the loader built it.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
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

// A rule's configuration path, "config.autoresponse.autoresponse%d",
// formed from its number when asked: with thousands of rules a string per
// rule would cost more than the rest of its record. Lives as long as the
// expression (or variable) that holds it.
class RulePath {
 public:
  explicit RulePath(uint32_t index);
  const char* c_str() const { return text_; }
  std::string_view view() const { return {text_, size_}; }
  operator std::string_view() const { return view(); }
  operator std::string() const { return str(); }
  std::string str() const { return std::string(view()); }
  friend std::string operator+(const RulePath& path, std::string_view tail) {
    std::string text(path.view());
    text += tail;
    return text;
  }
  friend bool operator==(const RulePath& path, std::string_view text) { return path.view() == text; }

 private:
  // The prefix and ten digits fit.
  char text_[48];
  uint8_t size_;
};

// What a rule's hold_while names, and the rules it holds and is held by
// (config/hold_while.h); a rule without any has none of it.
struct RuleHolds {
  std::vector<std::string> names;  // as read
  std::vector<uint32_t> holds;     // the rules they name, by number
  std::vector<uint32_t> held;      // the rules that name this one
};

struct AutoResponse {
  xmldb_t* config_db = nullptr;  // the database the rule was loaded from
  CmsNodes* cms = nullptr;       // the central-management nodes of its load
  std::string name;
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
  // Whether a reference of this rule was Triggered or Resolving when the
  // engine last looked (engine/hold.h).
  bool holding = false;
  // Moved whole into a newer load, which holds it now: what stays behind
  // is a shell the reload lets go.
  bool moved_over = false;
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
  // As the last load resolved them; null for a rule that neither holds
  // nor is held.
  std::unique_ptr<RuleHolds> hold_links;

  RulePath path() const { return RulePath(index); }
  // The names under hold_while, the rules they name, and the rules that
  // name this one (each empty when there are none).
  const std::vector<std::string>& hold_names() const;
  const std::vector<uint32_t>& holds() const;
  const std::vector<uint32_t>& held() const;
  // hold_links, made when missing.
  RuleHolds& links();
};

// A load's rules, appended to only so that the addresses references and
// queued actions hold stay valid while the load lasts; their blocks come
// from the load's own store (config/loader.h).
using RuleList = std::pmr::deque<AutoResponse>;

