// Loading AutoResponses and their ArChecks from the configuration database.
#include "config/loader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "base/log.h"
#include "checks/check_type.h"
#include "config/action_loader.h"
#include "config/hold_while.h"
#include "model/bounds.h"
#include "platform/scew.h"

namespace {

constexpr const char* kCmsRoot = "config.cms";

constexpr const char* kRuleName = "name";
constexpr const char* kRuleCheckType = "check_type";
constexpr const char* kRepeatTrigger = "repeat_trigger";
constexpr const char* kResetTimeout = "reset_timeout";
constexpr const char* kRepeatTimeout = "repeat_timeout";
constexpr const char* kTriggerTotal = "trigger_actions.total";
constexpr const char* kResolveTotal = "resolve_actions.total";
constexpr const char* kBurstCount = "burst.count";
constexpr const char* kBurstWindow = "burst.window";
// A day's window, the day's number in place of the '#'; day 0's start hour
// switches the schedule on.
constexpr const char* kWindow[] = {"disable.day#.start_hour", "disable.day#.start_min", "disable.day#.end_hour",
                                   "disable.day#.end_min"};

// Every setting of a rule is read under the rule's path: the database keeps
// the element of the last prefix it was given, so only the key's few
// components are looked up.
void read_schedule(xmldb_t* db, AutoResponse* ar) {
  const RulePath rule_path = ar->path();
  const char* path = rule_path.c_str();
  std::string key = kWindow[0];
  const size_t day_at = key.find('#');
  key[day_at] = '0';
  if (xmldb_getstring(db, path, key.c_str())[0] == '\0') return;
  ar->schedule_enabled = true;
  ar->disable = std::make_unique<DisableWindow[]>(7);
  for (int day = 0; day < 7; ++day) {
    DisableWindow& w = ar->disable[day];
    int32_t* const fields[] = {&w.start_hour, &w.start_min, &w.end_hour, &w.end_min};
    for (size_t i = 0; i < std::size(kWindow); ++i) {
      key = kWindow[i];
      key[day_at] = static_cast<char>('0' + day);
      *fields[i] = xmldb_getsize(db, path, key.c_str());
    }
  }
}

// A burst needs both settings, a count of 2 or more and a window of a
// second or more; anything less leaves the rule without one, triggering on
// every report as before. A count beyond what a reference keeps is cut.
void read_burst(xmldb_t* db, AutoResponse* ar) {
  const RulePath rule_path = ar->path();
  const char* path = rule_path.c_str();
  if (xmldb_getstring(db, path, kBurstCount)[0] == '\0' || xmldb_getstring(db, path, kBurstWindow)[0] == '\0') return;
  const int32_t count = xmldb_getsize(db, path, kBurstCount);
  const int32_t window = xmldb_getsize(db, path, kBurstWindow);
  if (count < 2 || window < 1) return;
  if (count > kMaxBurstCount) {
    ar_log(kLogError, "Burst count of %s is %d, counting to %d", path, static_cast<int>(count), kMaxBurstCount);
  }
  ar->burst_count = std::min(count, kMaxBurstCount);
  ar->burst_window = window;
}

// The kind of check the rule names, and whether the rule has a
// resolve stage (a kind's on-change flag takes it away). A name no kind has
// leaves the rule without a kind, which rejects it later.
void read_check_type(xmldb_t* db, AutoResponse* ar) {
  const CheckType* type = check_type_named(xmldb_getstring(db, ar->path().c_str(), kRuleCheckType));
  if (type == nullptr) return;
  ar->kind = type;
  if (type->on_change_flag != nullptr) {
    ar->has_resolve = xmldb_getbool(db, ar->path().c_str(), type->on_change_flag) == 0;
  } else {
    ar->has_resolve = type->has_resolve;
  }
}

// Keeps the finding of a count cut at its limit.
void note_cut(LoadedConfig* config, LoadFindingKind kind, uint32_t rule, std::string path, int32_t limit,
              std::string logged) {
  LoadFinding finding{kind, kLogError};
  finding.rule = rule;
  finding.path = std::move(path);
  finding.limit = limit;
  finding.text = std::move(logged);
  config->findings.push_back(std::move(finding));
}

// bounded_total, whose cut is kept as a finding about rule (0 for none).
int32_t bounded_total_noted(LoadedConfig* config, uint32_t rule, const char* prefix, const char* key, int32_t limit) {
  std::string cut;
  const int32_t total = bounded_total(config->db, prefix, key, limit, &cut);
  if (!cut.empty()) {
    note_cut(config, LoadFindingKind::kTotalCut, rule, std::string(prefix) + "." + key, limit, std::move(cut));
  }
  return total;
}

// The central-management nodes and their actions, derived at the first
// rule that gets this far and kept for the rest of the load: they are the
// same for every rule.
const CmsNodes& cms_nodes(LoadedConfig* config) {
  CmsNodes& cms = config->cms;
  if (cms.derived) return cms;
  cms = CmsNodes();
  cms.derived = true;
  xmldb_t* db = config->db;
  if (xmldb_getbool(db, kCmsRoot, "enabled") == 0) return cms;
  if (const scew_element* root = xmldb_subtree(db, kCmsRoot)) {
    // Every node is counted, so the cut names how many there are.
    size_t nodes = 0;
    for (const scew_list* l = scew_element_children(root); l != nullptr; l = scew_list_next(l)) {
      const char* name = scew_element_name(static_cast<const scew_element*>(scew_list_data(l)));
      if (name == nullptr || strncmp(name, "cms", 3) != 0) continue;
      if (++nodes <= static_cast<size_t>(kMaxCmsNodes)) cms.paths.push_back(std::string(kCmsRoot) + "." + name);
    }
    std::string cut;
    bounded_count(kCmsRoot, nodes, kMaxCmsNodes, &cut);
    if (!cut.empty()) note_cut(config, LoadFindingKind::kCmsNodesCut, 0, kCmsRoot, kMaxCmsNodes, std::move(cut));
  }
  if (cms.paths.empty()) cms.paths.emplace_back(kCmsRoot);
  build_cms_actions(&cms);
  return cms;
}

// The shared CMS actions first, then the configured ones; false rejects
// the rule.
bool build_actions(LoadedConfig* config, AutoResponse* ar, const CmsNodes& cms, ActionListId list) {
  const char* const list_name = list == kTriggerList ? "trigger_actions" : "resolve_actions";
  const int32_t total = bounded_total_noted(config, ar->index, ar->path().c_str(),
                                            list == kTriggerList ? kTriggerTotal : kResolveTotal, kMaxActions);
  action_list(ar, list).share(&cms.actions);
  action_list(ar, list).own().reserve(static_cast<size_t>(total > 0 ? total : 0));
  for (int32_t k = 1; k <= total; ++k) {
    if (!build_action(ar, list, static_cast<uint32_t>(k), &config->findings)) {
      LoadFinding& f = load_finding_log(&config->findings, LoadFindingKind::kActionListFailed, ar->index,
                                        ar->path() + "." + list_name, kLogFatal, "Error creating action list for ar");
      f.list = list;
      f.action = static_cast<uint32_t>(k);
      return false;
    }
  }
  return true;
}

// Creates the ArCheck of ar's reference index and appends it to the
// load's checks; -1 (reason logged and kept as a finding) when the check
// cannot be made.
int create_archeck(LoadedConfig* config, AutoResponse* ar, uint32_t index) {
  // Built apart and appended only when complete, so a failure at any step
  // leaves nothing behind.
  ArCheck check;
  ArCheckConf& conf = check.conf;
  conf.ar = ar;
  conf.ref_index = index;
  const CheckType* type = ar->kind;
  if (!check_type_has_module(type)) {
    load_finding_log(&config->findings, LoadFindingKind::kCheckWithoutModule, ar->index, ar->path() + ".check_type",
                     kLogFatal, "Unknown check type")
        .reference = index;
    return -1;
  }
  conf.ops = &type->ops;
  // Made only for a finding: a sound reference costs no string of it.
  const auto domain_path = [ar, type] { return ar->path() + "." + type->domain; };
  // The module's reason is logged as it gave it and kept as a finding.
  CheckReason reason;
  const int subscribed = conf.ops->subscription_key(&check, &conf.subscription, &reason);
  if (!reason.text.empty()) {
    load_finding_log(&config->findings, LoadFindingKind::kCheckSettings, ar->index, domain_path(), reason.priority,
                     "%s", reason.text.c_str())
        .reference = index;
  }
  if (subscribed != 0) {
    load_finding_log(&config->findings, LoadFindingKind::kNoSubscription, ar->index, domain_path(), kLogWarn,
                     "No subscription for rule: %s - %d", ar->path().c_str(), static_cast<int>(index))
        .reference = index;
    return -1;
  }
  // Built by appending: its spare room would stay for as long as the rule.
  conf.subscription.shrink_to_fit();
  read_action_delays(ar);
  check.statuses.reset(ar->trigger_actions.size() + ar->resolve_actions.size());
  ar_log(kLogDebug, "Appending new AR Check Status: %s - %d", ar->path().c_str(), static_cast<int>(index));
  config->checks.push_back(std::move(check));
  return 0;
}

}  // namespace

const char* const kRuleSettings[] = {
    kRuleName, kRuleCheckType, kRepeatTrigger, kResetTimeout, kRepeatTimeout, kWindow[0], kWindow[1], kWindow[2],
    kWindow[3], kTriggerTotal, kResolveTotal, kBurstCount, kBurstWindow, "hold_while.total", "hold_while.rule#",
    nullptr,
};

namespace {

// load_autoresponse, given the hash of the rule's element.
int load_rule(LoadedConfig* config, const char* path, int n, uint64_t fingerprint) {
  xmldb_t* db = config->db;
  // Built apart and appended once accepted; a rejected rule goes with it
  // and leaves no trace.
  AutoResponse rule;
  AutoResponse* ar = &rule;
  ar->index = static_cast<uint32_t>(n);
  ar->config_db = db;
  ar->cms = &config->cms;
  const char* name = xmldb_getstring(db, path, kRuleName);
  if (name[0] == '\0') {
    load_finding_log(&config->findings, LoadFindingKind::kRuleWithoutName, ar->index, std::string(path) + ".name",
                     kLogFatal, "AutoResponse %s has invalid name", path);
    return -1;
  }
  ar->name = name;
  ar->fingerprint = fingerprint;
  ar->has_resolve = true;
  ar->repeat_trigger = xmldb_getbool(db, path, kRepeatTrigger) != 0;
  ar->reset_timeout = xmldb_getsize(db, path, kResetTimeout);
  read_schedule(db, ar);
  read_burst(db, ar);
  read_hold_names(config, ar);
  read_check_type(db, ar);

  const CmsNodes& cms = cms_nodes(config);
  if (!build_actions(config, ar, cms, kTriggerList)) return -1;
  if (ar->has_resolve && !build_actions(config, ar, cms, kResolveList)) return -1;

  // Read as a size by the database itself: how a text becomes a number is
  // the configuration library's business, not the loader's.
  ar->repeat_timeout =
      xmldb_getstring(db, path, kRepeatTimeout)[0] == '\0' ? 300 : xmldb_getsize(db, path, kRepeatTimeout);

  const CheckType* type = ar->kind;
  if (type == nullptr) {
    // The line has always named the kind by a number, which is 0 for none.
    load_finding_log(&config->findings, LoadFindingKind::kUnknownCheckType, ar->index, ar->path() + ".check_type",
                     kLogFatal, "No corresponding config domain found for: %d", 0);
    return -1;
  }
  config->rules.push_back(std::move(rule));
  ar = &config->rules.back();

  const std::string refs_key = std::string(type->domain) + ".dev_refs.total";
  const int32_t refs = bounded_total_noted(config, ar->index, path, refs_key.c_str(), kMaxReferences);
  if (refs >= 1) {
    for (int32_t r = 1; r <= refs; ++r) {
      if (create_archeck(config, ar, static_cast<uint32_t>(r)) != 0) {
        load_finding_log(&config->findings, LoadFindingKind::kReferenceNotMade, ar->index, path + ("." + refs_key),
                         kLogFatal, "Could not create Autoresponse state instance %s.%s", path, refs_key.c_str())
            .reference = static_cast<uint32_t>(r);
      }
    }
  } else if (create_archeck(config, ar, 1) != 0) {
    load_finding_log(&config->findings, LoadFindingKind::kReferenceNotMade, ar->index, path, kLogFatal,
                     "Could not load old style Autoresponse %s", path)
        .reference = 1;
  }
  return 0;
}

}  // namespace

int load_autoresponse(LoadedConfig* config, const char* path, int n) {
  return load_rule(config, path, n, xmldb_fingerprint(config->db, path));
}

LoadedConfig::~LoadedConfig() {
  // The references and rules go first: they point into the database.
  checks.clear();
  rules.clear();
  if (db != nullptr) xmldb_close(db);
}

namespace {

// The rules of the load in force, walked once in number order beside the
// new load's, with the references of each.
class PreviousRules {
 public:
  explicit PreviousRules(LoadedConfig* previous) : previous_(previous) {
    if (previous_ != nullptr) {
      rule_ = previous_->rules.begin();
      check_ = previous_->checks.begin();
    }
  }

  // Moves rule number n over into config when nothing that makes it has
  // changed (its element, whose hash is fingerprint, and every key of its
  // references read from config's database); false when it must be built.
  bool take(LoadedConfig* config, uint32_t n, uint64_t fingerprint) {
    if (previous_ == nullptr || previous_->cms_fingerprint != config->cms_fingerprint) return false;
    while (rule_ != previous_->rules.end() && rule_->index < n) next_rule();
    if (rule_ == previous_->rules.end() || rule_->index != n || rule_->fingerprint != fingerprint) return false;
    AutoResponse& old = *rule_;
    auto first = check_;
    auto last = first;
    while (last != previous_->checks.end() && last->conf.ar == &old) ++last;
    // A key may be made of settings outside the rule (a tunnel's name):
    // each is made again from the new database and must come out the same.
    old.config_db = config->db;
    bool same = true;
    std::string key;
    for (auto c = first; same && c != last; ++c) {
      key.clear();
      same = c->conf.ops->subscription_key(&*c, &key, nullptr) == 0 && key == c->conf.subscription;
    }
    same = same && gaps_remain(config->db, old, first, last);
    old.config_db = previous_->db;
    if (!same) return false;

    const CmsNodes& cms = cms_nodes_of(config);
    config->rules.push_back(std::move(old));
    AutoResponse& ar = config->rules.back();
    ar.config_db = config->db;
    ar.cms = &config->cms;
    // The shared actions are the new load's, equal to the old ones.
    for (const ActionListId list : {kTriggerList, kResolveList}) {
      if (action_list(ar, list).sharing()) action_list(&ar, list).share(&cms.actions);
    }
    old.moved_over = true;
    for (auto c = first; c != last; ++c) {
      config->checks.push_back(std::move(*c));
      config->checks.back().conf.ar = &ar;
      c->conf.ar = nullptr;
    }
    check_ = last;
    ++rule_;
    return true;
  }

 private:
  void next_rule() {
    while (check_ != previous_->checks.end() && check_->conf.ar == &*rule_) ++check_;
    ++rule_;
  }

  // Whether every reference of old that the last load could not make (its
  // settings allowed no key) still cannot be made from db: one that a
  // setting elsewhere now allows is a change.
  static bool gaps_remain(xmldb_t* db, const AutoResponse& old, ArCheckList::iterator first,
                          ArCheckList::iterator last) {
    const std::string refs_key = std::string(old.kind->domain) + ".dev_refs.total";
    const int32_t total = std::min(xmldb_getsize(db, old.path().c_str(), refs_key.c_str()), kMaxReferences);
    const uint32_t refs = total >= 1 ? static_cast<uint32_t>(total) : 1;
    if (static_cast<uint32_t>(last - first) == refs) return true;
    std::vector<bool> made(refs + 1);
    for (auto c = first; c != last; ++c) {
      if (c->conf.ref_index <= refs) made[c->conf.ref_index] = true;
    }
    ArCheck probe;
    probe.conf.ar = const_cast<AutoResponse*>(&old);
    probe.conf.ops = &old.kind->ops;
    std::string key;
    for (uint32_t r = 1; r <= refs; ++r) {
      if (made[r]) continue;
      probe.conf.ref_index = r;
      key.clear();
      if (probe.conf.ops->subscription_key(&probe, &key, nullptr) == 0) return false;
    }
    return true;
  }

  // The new load's central-management nodes, derived now if no rule built
  // so far has, with their delays read.
  static const CmsNodes& cms_nodes_of(LoadedConfig* config) {
    const CmsNodes& cms = cms_nodes(config);
    read_cms_delays(&config->cms, config->db);
    return cms;
  }

  LoadedConfig* previous_;
  RuleList::iterator rule_;
  ArCheckList::iterator check_;
};

}  // namespace

std::unique_ptr<LoadedConfig> config_load(xmldb_t* db, LoadedConfig* previous) {
  auto config = std::make_unique<LoadedConfig>();
  config->db = db;
  struct Hold {
    xmldb_t* db;
    ~Hold() { xmldb_release(db); }
  } hold{xmldb_hold(db, &config->source) == 0 ? db : nullptr};
  config->cms_fingerprint = xmldb_fingerprint(db, kCmsRoot);
  PreviousRules kept(previous);
  const int32_t total = bounded_total_noted(config.get(), 0, kRulesRoot, "total", kMaxRules);
  for (int32_t n = 1; n <= total; ++n) {
    const std::string path = kRulePathPrefix + std::to_string(n);
    const uint64_t fingerprint = xmldb_fingerprint(db, path.c_str());
    if (kept.take(config.get(), static_cast<uint32_t>(n), fingerprint)) continue;
    if (load_rule(config.get(), path.c_str(), n, fingerprint) != 0) {
      load_finding_log(&config->findings, LoadFindingKind::kRuleRejected, static_cast<uint32_t>(n), path, kLogFatal,
                       "Could not load ar %s", path.c_str());
    }
  }
  resolve_holds(config.get());
  // A negative delay would hold the loop back for ever as an unsigned one.
  const int32_t boot_delay = xmldb_getsize(db, kRulesRoot, "boot_delay");
  config->boot_delay = boot_delay > 0 ? static_cast<uint32_t>(boot_delay) : 0;
  const int32_t concurrent = xmldb_getsize(db, kRulesRoot, "concurrent_actions");
  config->concurrent_actions = concurrent > 0 ? concurrent : 0;
  const int32_t timeout = xmldb_getsize(db, kRulesRoot, "action_timeout");
  config->action_timeout = timeout > 0 ? timeout : 0;
  return config;
}
