// The daemon's loader and check modules, run offline.
#include "arctl/offline.h"

#include <algorithm>
#include <map>

#include "arctl/config_tree.h"
#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "config/loader.h"
#include "engine/restart.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

std::string device_of(const ArCheck& check) {
  OptionalText dev_ref;
  if (check.conf.ops->describe_device(&check, nullptr, nullptr, &dev_ref) != 0 || !dev_ref) return "";
  if (*dev_ref == "N/A" || *dev_ref == check.conf.ar->path()) return "";
  return *dev_ref;
}

namespace {

}  // namespace

struct OfflineConfig::State {
  std::unique_ptr<LoadedConfig> config;
};

OfflineConfig::OfflineConfig(const std::string& path) : state_(std::make_unique<State>()) {
  xmldb_t* db = xmldb_open(path.c_str());
  if (db == nullptr) return;

  state_->config = config_load(db);
  const LoadedConfig& loaded = *state_->config;

  // The rules 1 to total that are there, loaded or complained about.
  const long total = std::min<long>(xmldb_getsize(db, kRulesRoot, "total"), kMaxRules);
  std::map<long, OfflineRule> rules;
  auto rule = [&](long n) -> OfflineRule& {
    OfflineRule& r = rules[n];
    if (r.path.empty()) {
      r.index = static_cast<int>(n);
      r.path = kRulePathPrefix + std::to_string(n);
      r.name = xmldb_getstring(db, r.path.c_str(), "name");
      r.check_type = xmldb_getstring(db, r.path.c_str(), "check_type");
    }
    return r;
  };
  for (long n : numbered_entries(db, kRulesRoot, "autoresponse")) {
    if (n <= total) rule(n);
  }
  for (const AutoResponse& ar : loaded.rules) {
    OfflineRule& r = rule(static_cast<long>(ar.index));
    r.loaded = true;
    r.actions = ar.trigger_actions.size() + ar.resolve_actions.size();
    r.kind = ar.kind != nullptr ? ar.kind->name : "-";
    r.burst_count = ar.burst_count;
    r.burst_window = ar.burst_window;
  }
  const AutoResponse* last_rule = nullptr;
  for (size_t i = 0; i < loaded.checks.size(); ++i) {
    const ArCheck& check = loaded.checks[i];
    OfflineRule& r = rule(static_cast<long>(check.conf.ar->index));
    r.references.push_back({check.conf.ref_index, true, device_of(check), check.conf.subscription});
    if (check.conf.ar != last_rule) r.restart_fingerprint = restart_fingerprint_of(loaded.checks, loaded.cms_fingerprint, i);
    last_rule = check.conf.ar;
  }

  for (const LoadFinding& finding : loaded.findings) {
    if (finding.priority > kLogWarn) continue;  // information
    if (finding.rule == 0 || static_cast<long>(finding.rule) > total) {
      findings_.push_back(finding);
      continue;
    }
    OfflineRule& r = rule(static_cast<long>(finding.rule));
    if (finding.kind == LoadFindingKind::kNoSubscription) r.references.push_back({finding.reference, false, "", ""});
    r.findings.push_back(finding);
  }

  for (auto& [n, r] : rules) {
    std::sort(r.references.begin(), r.references.end(),
              [](const OfflineReference& a, const OfflineReference& b) { return a.number < b.number; });
    if (r.loaded && r.references.empty()) r.references.push_back({1, false, "", ""});
    rules_.push_back(std::move(r));
  }
}

OfflineConfig::~OfflineConfig() = default;

bool OfflineConfig::ok() const { return state_->config != nullptr; }

LoadedConfig* OfflineConfig::loaded() const { return state_->config.get(); }

xmldb_t* OfflineConfig::db() const { return state_->config ? state_->config->db : nullptr; }

size_t OfflineConfig::rules_loaded() const { return state_->config ? state_->config->rules.size() : 0; }

size_t OfflineConfig::references_loaded() const { return state_->config ? state_->config->checks.size() : 0; }

size_t OfflineConfig::actions_loaded() const {
  size_t n = 0;
  for (const OfflineRule& r : rules_) n += r.actions;
  return n;
}

std::vector<uint32_t> OfflineConfig::audit_references(const OfflineRule& rule, AuditReport* report) const {
  std::vector<uint32_t> with_errors;
  const CheckType* type = check_type_named(rule.check_type.c_str());
  if (type == nullptr || type->ops.audit == nullptr) return with_errors;
  xmldb_t* db = state_->config->db;
  // A rule of its own, as the loader would make it, whether it kept it or not.
  AutoResponse ar;
  ar.config_db = db;
  ar.cms = &state_->config->cms;
  ar.name = rule.name;
  ar.index = static_cast<uint32_t>(rule.index);
  ar.kind = type;
  const std::string refs_key = std::string(type->domain) + ".dev_refs.total";
  const int32_t refs = std::min(std::max(xmldb_getsize(db, rule.path.c_str(), refs_key.c_str()), 1), kMaxReferences);
  for (int32_t r = 1; r <= refs; ++r) {
    ArCheck check;
    check.conf.ar = &ar;
    check.conf.ref_index = static_cast<uint32_t>(r);
    check.conf.ops = &type->ops;
    check.state = kArNormal;
    const size_t before = report->errors_reported();
    type->ops.audit(&check, report);
    if (report->errors_reported() > before) with_errors.push_back(static_cast<uint32_t>(r));
  }
  return with_errors;
}
