// A configuration as the daemon loads it. This is the one place where
// arctl reaches into the daemon's records: it runs the daemon's own loader
// and check modules in this process, with no infod (what the loader would
// send is dropped) and no program started, and keeps the loader's
// findings: what it found wrong and where, each with the line the daemon
// logs about it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/load_finding.h"
#include "platform/xmldb.h"

class AuditReport;
struct ArCheck;
struct LoadedConfig;

struct OfflineReference {
  uint32_t number;     // from 1
  bool subscribed;     // the loader made it (it has its subscription)
  std::string device;  // the device it watches, when it has one of its own
  std::string key;     // the key it listens to; "" when not made
};

struct OfflineRule {
  int index;               // N of config.autoresponse.autoresponseN
  std::string path;
  std::string name;        // as configured
  std::string check_type;  // as configured
  bool loaded = false;
  std::vector<OfflineReference> references;  // of a loaded rule: made or tried, in order
  size_t actions = 0;                        // of a loaded rule, built-in ones included
  // Of a loaded rule: its kind as the daemon names it in its loaded list,
  // the fingerprint its restart records would carry (engine/restart.h; 0
  // without a reference made) and its burst settings (0 for none).
  std::string kind;
  uint64_t restart_fingerprint = 0;
  int32_t burst_count = 0;
  int32_t burst_window = 0;
  std::vector<LoadFinding> findings;          // the loader's about this rule, in the order logged
};

// The device a reference watches, as its check module names it; "" for a
// check whose device is the rule itself or none.
std::string device_of(const ArCheck& check);

class OfflineConfig {
 public:
  // Opens the configuration file at path and loads it.
  explicit OfflineConfig(const std::string& path);
  ~OfflineConfig();
  OfflineConfig(const OfflineConfig&) = delete;
  OfflineConfig& operator=(const OfflineConfig&) = delete;

  // False when the file could not be opened as a configuration.
  bool ok() const;
  xmldb_t* db() const;

  // Rules 1 to "total" that the file holds or the loader loaded, in order.
  const std::vector<OfflineRule>& rules() const { return rules_; }
  // The loader's findings that concern no rule, such as a cut "total".
  const std::vector<LoadFinding>& findings() const { return findings_; }
  size_t rules_loaded() const;
  size_t references_loaded() const;
  size_t actions_loaded() const;

  // The load itself, its rules and references as the daemon builds them;
  // null when the file could not be opened.
  LoadedConfig* loaded() const;

  // Runs the audit of the check module of rule's check type for each of
  // its references, whether the loader kept them or not. Returns the
  // numbers of the references whose audit reported an error.
  std::vector<uint32_t> audit_references(const OfflineRule& rule, AuditReport* report) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::vector<OfflineRule> rules_;
  std::vector<LoadFinding> findings_;
};
