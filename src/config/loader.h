// The loader: one configuration database made into a value — the rules,
// their references, the central-management nodes and the daemon-wide
// settings. It touches neither infod nor the engine; whoever runs the rules
// takes the value in.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <memory_resource>
#include <vector>

#include "base/mapped_memory.h"
#include "config/load_finding.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "platform/xmldb.h"

struct LoadedConfig {
  // The store's first block; later ones grow. Only the pages written are
  // resident: a few rules take one.
  static constexpr size_t kStoreFirstBlock = 64 * 1024;

  LoadedConfig() = default;
  LoadedConfig(const LoadedConfig&) = delete;
  LoadedConfig& operator=(const LoadedConfig&) = delete;
  ~LoadedConfig();

  xmldb_t* db = nullptr;  // owned: the rules read their settings from it
  // The version of the file the load read, all of it (xmldb_hold): a file
  // replaced while the rules are read shows only after the load.
  XmldbSource source;
  // The blocks of the rules and references below, carved from a few large
  // mapped ones that go back to the system whole when the load is let go.
  // Left to the heap, the old load's small blocks, freed among the new
  // load's, left holes of which few pages could be returned: after a
  // reload of every rule, megabytes of them stayed resident, and the next
  // reload's parse came on top. Nothing is taken out of the lists while the
  // load lasts, so nothing is lost to a store that never gives back a block.
  std::pmr::monotonic_buffer_resource store{kStoreFirstBlock, mapped_memory()};
  // Appended to only (a rejected rule is never added), so the addresses
  // that references, the routing index and queued actions hold stay valid
  // while the load lasts.
  RuleList rules{&store};
  ArCheckList checks{&store};
  CmsNodes cms;
  uint64_t cms_fingerprint = 0;  // of "config.cms" as loaded
  // Daemon-wide settings; a limit of 0 keeps the one running.
  uint32_t boot_delay = 0;
  int32_t concurrent_actions = 0;
  int32_t action_timeout = 0;
  // Beside each line logged about the configuration, in the order logged;
  // empty for a sound one.
  std::vector<LoadFinding> findings;
};

// Every setting the loader reads under a rule's path ("#" for a number;
// the actions' own under their lists are action_loader.h's, those of the
// rule's check its kind's), null-terminated.
extern const char* const kRuleSettings[];

// Builds every rule of db (taken over) with its references; the rules are
// numbered 1 to the root's "total". New references are in no state yet
// (kArNone). The load holds one parse of the file from its first read to
// its last; the rules' checks and actions read their settings afresh
// afterwards, by design.
//
// Given the load in force, a rule whose whole element is as it was there,
// under a "config.cms" that is as it was too, and whose references all come
// out with the keys they had, is not built again: it is moved over whole,
// its references with their states, statuses and events as they are (each
// still in the state it had, so never kArNone). What stays behind in
// previous is what the reload lets go: a rule moved over leaves an empty
// path, a reference one without a rule.
std::unique_ptr<LoadedConfig> config_load(xmldb_t* db, LoadedConfig* previous = nullptr);

// Builds rule number n under path with its references into config; 0 when
// the rule was kept (even without references), -1 when it was rejected
// (nothing stays).
int load_autoresponse(LoadedConfig* config, const char* path, int n);
