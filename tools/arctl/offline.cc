// The daemon's loader and check modules, run offline.
#include "arctl/offline.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "arctl/config_tree.h"
#include "base/log.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "config/loader.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

constexpr const char* kNoSubscription = "No subscription for rule: ";

using LogLines = std::vector<std::pair<int, std::string>>;

void keep_line(int priority, const char* message, void* lines) {
  static_cast<LogLines*>(lines)->emplace_back(priority, message);
}

// The number of the rule a line names by its path; 0 when it names none.
long rule_named(const std::string& line) {
  const size_t at = line.find(kRulePathPrefix);
  if (at == std::string::npos) return 0;
  const char* digits = line.c_str() + at + strlen(kRulePathPrefix);
  if (!isdigit(static_cast<unsigned char>(digits[0]))) return 0;
  const long n = strtol(digits, nullptr, 10);
  return n >= 1 && n <= kMaxRules ? n : 0;
}

// The reference number of a "No subscription for rule: <path> - <n>" line; 0 for another line.
uint32_t reference_without_subscription(const std::string& line) {
  if (line.compare(0, strlen(kNoSubscription), kNoSubscription) != 0) return 0;
  const size_t dash = line.rfind(" - ");
  if (dash == std::string::npos) return 0;
  return static_cast<uint32_t>(strtoul(line.c_str() + dash + 3, nullptr, 10));
}

// The device a reference watches, as its check module names it; "" for a
// check whose device is the rule itself or none.
std::string device_of(const ArCheck& check) {
  OptionalText dev_ref;
  if (check.conf.ops->describe_device(&check, nullptr, nullptr, &dev_ref) != 0 || !dev_ref) return "";
  if (*dev_ref == "N/A" || *dev_ref == check.conf.ar->path) return "";
  return *dev_ref;
}

}  // namespace

struct OfflineConfig::State {
  std::unique_ptr<LoadedConfig> config;
};

OfflineConfig::OfflineConfig(const std::string& path) : state_(std::make_unique<State>()) {
  xmldb_t* db = xmldb_open(path.c_str());
  if (db == nullptr) return;

  LogLines lines;
  log_set_observer(keep_line, &lines);
  state_->config = config_load(db);
  const LoadedConfig& loaded = *state_->config;
  LogLines loader_lines;
  loader_lines.swap(lines);  // what describe_device may log below is not the loader's

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
  }
  for (const ArCheck& check : loaded.checks) {
    rule(static_cast<long>(check.conf.ar->index)).references.push_back({check.conf.ref_index, true, device_of(check)});
  }

  // Each line that names a rule or a setting, with the nameless lines before it.
  std::vector<std::string> causes;
  for (const auto& [priority, text] : loader_lines) {
    if (priority > kLogWarn) continue;  // information, such as "Adding subscription"
    if (text.find("config.") == std::string::npos) {
      causes.push_back(text);
      continue;
    }
    LoaderComplaint complaint{priority, text, std::move(causes)};
    causes.clear();
    const long n = rule_named(text);
    if (n == 0 || n > total) {
      complaints_.push_back(std::move(complaint));
      continue;
    }
    OfflineRule& r = rule(n);
    if (const uint32_t ref = reference_without_subscription(text)) r.references.push_back({ref, false, ""});
    r.complaints.push_back(std::move(complaint));
  }
  if (!causes.empty()) complaints_.push_back(LoaderComplaint{kLogFatal, causes.back(), causes});

  for (auto& [n, r] : rules) {
    std::sort(r.references.begin(), r.references.end(),
              [](const OfflineReference& a, const OfflineReference& b) { return a.number < b.number; });
    if (r.loaded && r.references.empty()) r.references.push_back({1, false, ""});
    rules_.push_back(std::move(r));
  }
  log_set_observer(nullptr, nullptr);
}

OfflineConfig::~OfflineConfig() = default;

bool OfflineConfig::ok() const { return state_->config != nullptr; }

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
  ar.path = rule.path;
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
