// What `arctl check` finds beyond the check modules' own audits.
#include "arctl/rule_audit.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "actions/action_kinds.h"
#include "arctl/offline.h"
#include "checks/audit.h"
#include "checks/check_type.h"
#include "config/action_loader.h"
#include "config/loader.h"
#include "model/autoresponse.h"
#include "platform/scew.h"

namespace {

std::vector<std::string> check_type_names() {
  std::vector<std::string> names;
  for (const CheckType* const* t = kCheckTypes; *t != nullptr; ++t) {
    if (check_type_has_module(*t)) names.emplace_back((*t)->name);
  }
  return names;
}

std::vector<std::string> action_type_names() {
  std::vector<std::string> names;
  for (const ActionKind* const* k = kActionKinds; *k != nullptr; ++k) names.emplace_back((*k)->type);
  return names;
}

void audit_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* check) {
  if (audit_setting(db, action, "name").empty()) {
    report->error(action + ".name", "missing, so the daemon skips this whole rule; give the action a name");
  }
  const std::string kind = audit_setting(db, action, "action_type");
  if (kind.empty()) {
    report->error(action + ".action_type",
                  "missing, so the daemon skips this whole rule; use " + one_of(action_type_names()));
  } else if (audit_choice(report, action + ".action_type", kind, action_type_names(), "an action type",
                          "the daemon skips this whole rule")) {
    const ActionKind* row = action_kind_find(kind.c_str());
    if (row->audit != nullptr) row->audit(report, db, action, check);
  }
  audit_whole_number(report, action + ".delay_time", audit_setting(db, action, "delay_time"));
}

void audit_action_list(AuditReport* report, xmldb_t* db, const std::string& list, const CheckType* check) {
  if (!audit_holds(db, list)) return;
  audit_total(report, db, list, "action", kMaxActions, "the daemon skips this whole rule");
  const long total = std::min<long>(xmldb_getsize(db, list.c_str(), "total"), kMaxActions);
  for (long k = 1; k <= total; ++k) {
    const std::string action = list + ".action" + std::to_string(k);
    if (audit_holds(db, action)) audit_action(report, db, action, check);
  }
}

// A disable schedule is on only when day 0's start hour is set.
void audit_schedule(AuditReport* report, xmldb_t* db, const std::string& rule) {
  const std::string disable = rule + ".disable";
  if (!audit_holds(db, disable)) return;
  const bool on = !audit_setting(db, disable, "day0.start_hour").empty();
  for (int day = 0; day < 7; ++day) {
    const std::string window = disable + ".day" + std::to_string(day);
    if (!audit_holds(db, window)) continue;
    if (!on) {
      report->error(disable + ".day0.start_hour", "missing, so the daemon ignores the whole disable schedule; "
                                                  "set day0's window too (all four 0 for none)");
      return;
    }
    int32_t minutes[4] = {};  // start hour, start minute, end hour, end minute
    int32_t* minute = minutes;
    for (const char* key : {"start_hour", "start_min", "end_hour", "end_min"}) {
      const std::string value = audit_setting(db, window, key);
      const std::string path = window + "." + key;
      audit_whole_number(report, path, value);
      const bool hour = key[strlen(key) - 1] == 'r';
      const int32_t n = xmldb_getsize(db, window.c_str(), key);
      if (n < 0 || n > (hour ? 23 : 59)) {
        report->error(path, quoted(value) + " is no " + (hour ? "hour (0 to 23)" : "minute (0 to 59)"));
      }
      *minute++ = n;
    }
    // A window never passes midnight, and one that ends where it starts is
    // empty; all four 0 is how a day says it has none.
    const int32_t start = minutes[0] * 60 + minutes[1], end = minutes[2] * 60 + minutes[3];
    if (end <= start && (start != 0 || end != 0)) {
      const auto clock = [](int32_t hour, int32_t min) {
        char text[16];
        snprintf(text, sizeof text, "%02d:%02d", static_cast<int>(hour % 100), static_cast<int>(min % 100));
        return std::string(text);
      };
      report->warning(window, "the window ends at " + clock(minutes[2], minutes[3]) + ", not after it starts at " +
                                  clock(minutes[0], minutes[1]) + ", so it disables nothing; a window does not pass "
                                  "midnight: end this one at 23:59 and start the next day's at 00:00");
    }
  }
}

// A burst counts only with both settings, a count from 2 and a window from a
// second; otherwise the rule triggers on every report, as one without a
// burst does. A value that is no number is reported once, as a number.
void audit_burst(AuditReport* report, xmldb_t* db, const std::string& rule) {
  const std::string burst = rule + ".burst";
  const std::string count = audit_setting(db, burst, "count"), window = audit_setting(db, burst, "window");
  if (count.empty() && window.empty()) return;
  const std::string every = "so the rule has no burst and triggers on every report";
  if (count.empty() || window.empty()) {
    report->error(burst + (count.empty() ? ".count" : ".window"),
                  "missing, " + every + "; set both count and window, or neither");
  }
  const struct {
    const char* key;
    const std::string& value;
    int32_t low, high;
    const char* range;
  } settings[] = {{"count", count, 2, kMaxBurstCount, "less than 2"}, {"window", window, 1, INT32_MAX, "less than 1"}};
  for (const auto& s : settings) {
    if (s.value.empty()) continue;
    const std::string path = burst + "." + s.key;
    const size_t errors = report->errors_reported();
    audit_whole_number(report, path, s.value);
    if (report->errors_reported() != errors) continue;
    const int32_t n = xmldb_getsize(db, burst.c_str(), s.key);
    if (n < s.low) {
      report->error(path, quoted(s.value) + " is " + s.range + ", " + every + "; write " + std::to_string(s.low) +
                              " or more");
    } else if (n > s.high) {
      report->error(path, quoted(s.value) + " is more than the " + std::to_string(s.high) +
                              " reports a burst counts, so the rule triggers at the " + std::to_string(s.high) +
                              "th; write at most " + std::to_string(s.high));
    }
  }
}

// What the loader found about rule, where the audits above did not
// already say it: a reference left without a subscription, a check type
// without a module, a rejected rule. A cut count is reported with the
// daemon-wide ones.
void explain_findings(AuditReport* report, const OfflineRule& rule, const std::vector<uint32_t>& audited) {
  std::vector<const LoadFinding*> reasons;  // logged before the finding of what they cost
  for (const LoadFinding& f : rule.findings) {
    switch (f.kind) {
      case LoadFindingKind::kCheckWithoutModule:
        report->add({AuditLevel::kError, rule.path + ".check_type",
                     quoted(rule.check_type) + " has no check in this daemon, so the rule is loaded but never "
                                               "triggers; use " + one_of(check_type_names()),
                     AuditKind::kLoader});
        reasons.push_back(&f);
        continue;
      case LoadFindingKind::kActionWithoutName:
      case LoadFindingKind::kUnknownActionType:
      case LoadFindingKind::kActionListFailed:
      case LoadFindingKind::kUnknownCheckType:
      case LoadFindingKind::kCheckSettings:
        reasons.push_back(&f);
        continue;
      case LoadFindingKind::kTotalCut:
      case LoadFindingKind::kCmsNodesCut:
      case LoadFindingKind::kReferenceNotMade:  // follows its reason, reported above
        break;
      case LoadFindingKind::kHoldRefused:
        report->add({AuditLevel::kError, f.path,
                     "holds nothing: the daemon logs " + quoted(f.text) + "; name one other rule, by its name",
                     AuditKind::kLoader});
        break;
      case LoadFindingKind::kNoSubscription: {
        if (std::find(audited.begin(), audited.end(), f.reference) != audited.end()) break;
        // A reference that a list's total counts but that is missing is
        // reported with the total.
        const CheckType* check = check_type_named(rule.check_type.c_str());
        if (check != nullptr && report->has_error_under(rule.path + "." + check->domain + ".dev_refs")) break;
        std::string text = "reference " + std::to_string(f.reference) + " gets no subscription and never triggers";
        if (!reasons.empty()) text += "; the daemon logs " + quoted(reasons.back()->text);
        report->add({AuditLevel::kError, rule.path, text + "; check the settings of its check", AuditKind::kLoader,
                     false, f.reference});
        break;
      }
      case LoadFindingKind::kRuleWithoutName:
      case LoadFindingKind::kRuleRejected: {
        if (report->has_error_under(rule.path)) break;
        std::string logged;
        for (const LoadFinding* reason : reasons) logged += quoted(reason->text) + ", ";
        report->add({f.priority <= 300 ? AuditLevel::kError : AuditLevel::kWarning, rule.path,
                     "the daemon logs " + logged + quoted(f.text), AuditKind::kLoader});
        break;
      }
    }
    reasons.clear();
  }
}

// A count the daemon cuts at its limit.
bool explain_cut(AuditReport* report, const LoadFinding& f) {
  if (f.kind != LoadFindingKind::kTotalCut && f.kind != LoadFindingKind::kCmsNodesCut) return false;
  const std::string limit = std::to_string(f.limit);
  report->add({AuditLevel::kError, f.path,
               "is more than the " + limit + " entries the daemon reads; it reads only the first " + limit +
                   " and ignores the rest",
               AuditKind::kList});
  return true;
}

// --- Elements nothing reads --------------------------------------------------

std::vector<std::string> components(const std::string& key) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t dot; (dot = key.find('.', from)) != std::string::npos; from = dot + 1) {
    parts.push_back(key.substr(from, dot - from));
  }
  parts.push_back(key.substr(from));
  return parts;
}

// The digits that end a component after its name ("action2": "2"); "" for none.
std::string trailing_number(const std::string& component) {
  const size_t name_end = component.find_last_not_of("0123456789");
  if (name_end == std::string::npos || name_end + 1 == component.size()) return "";
  return component.substr(name_end + 1);
}

// key as the tables write it: a component's trailing number is '#'.
std::string numbered_form(const std::string& key) {
  std::string form;
  for (const std::string& part : components(key)) {
    if (!form.empty()) form += '.';
    const std::string number = trailing_number(part);
    form += number.empty() ? part : part.substr(0, part.size() - number.size()) + "#";
  }
  return form;
}

// Whether form is one of the known keys or a container of one.
bool known_key(const std::vector<std::string>& known, const std::string& form) {
  for (const std::string& k : known) {
    if (k == form || k.compare(0, form.size() + 1, form + ".") == 0) return true;
  }
  return false;
}

// The known key nearest to the one typed, with the typed numbers in place
// of '#' ("N" where it had none); "" when none is near enough to be meant.
std::string nearest_key(const std::vector<std::string>& known, const std::string& typed) {
  const std::string form = numbered_form(typed);
  const std::string* best = nullptr;
  size_t best_distance = 0;
  for (const std::string& k : known) {
    const size_t d = edit_distance(form, k);
    if (best == nullptr || d < best_distance) best = &k, best_distance = d;
  }
  if (best == nullptr || best_distance > 2 || best_distance * 3 > form.size()) return "";
  const std::vector<std::string> typed_parts = components(typed);
  std::string shown;
  const std::vector<std::string> parts = components(*best);
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string part = parts[i];
    if (!part.empty() && part.back() == '#') {
      const std::string number = i < typed_parts.size() ? trailing_number(typed_parts[i]) : "";
      part.replace(part.size() - 1, 1, number.empty() ? "N" : number);
    }
    shown += (i == 0 ? "" : ".") + part;
  }
  return shown;
}

void report_unread(AuditReport* report, const std::string& path, const std::string& typed, const std::string& owner,
                   const std::vector<std::string>& known) {
  std::string text = "`" + typed + "` is not a setting of " + owner;
  const std::string near = nearest_key(known, typed);
  if (!near.empty()) text += "; did you mean `" + near + "`?";
  report->add({AuditLevel::kWarning, path, text, AuditKind::kUnread});
}

std::vector<std::string> key_list(const char* const* keys, const std::string& prefix = "") {
  std::vector<std::string> list;
  for (const char* const* k = keys; k != nullptr && *k != nullptr; ++k) list.push_back(prefix + *k);
  return list;
}

// The elements without elements inside, as keys relative to the rule.
void leaf_keys(const scew_element* element, const std::string& key, std::vector<std::string>* leaves) {
  const scew_list* children = scew_element_children(element);
  if (children == nullptr && !key.empty()) leaves->push_back(key);
  for (const scew_list* l = children; l != nullptr; l = scew_list_next(l)) {
    const char* name = scew_element_name(static_cast<const scew_element*>(scew_list_data(l)));
    if (name == nullptr) continue;
    leaf_keys(static_cast<const scew_element*>(scew_list_data(l)), key.empty() ? name : key + "." + name, leaves);
  }
}

bool is_action_type(const std::string& name) { return action_kind_find(name.c_str()) != nullptr; }

bool is_domain_head(const std::string& name) {
  for (const CheckType* const* t = kCheckTypes; *t != nullptr; ++t) {
    if (components((*t)->domain)[0] == name) return true;
  }
  return false;
}

// Warns of every element under the rule that the loader, the rule's check
// and its actions never read, naming the key they read that is nearest.
// The settings of another kind of check or action (what an editor may
// leave behind when a rule's kind changes) are left alone.
void audit_unread_keys(AuditReport* report, xmldb_t* db, const std::string& rule, const CheckType* check) {
  const scew_element* root = xmldb_subtree(db, rule.c_str());
  if (root == nullptr) return;
  std::vector<std::string> leaves;
  leaf_keys(root, "", &leaves);
  const std::vector<std::string> rule_keys = key_list(kRuleSettings);
  std::vector<std::string> check_keys;
  std::string check_owner;
  if (check != nullptr) {
    check_keys = key_list(check->settings);
    check_keys.push_back(std::string(check->domain) + ".dev_refs.total");
    check_owner = std::string(strchr("aeiou", check->name[0]) != nullptr ? "an " : "a ") + check->name + " check";
  }
  for (const std::string& key : leaves) {
    const std::string form = numbered_form(key);
    const std::vector<std::string> parts = components(form);
    const bool in_list = parts[0] == "trigger_actions" || parts[0] == "resolve_actions";
    if (in_list && parts.size() >= 2 && parts[1] == "action#") {
      if (parts.size() == 2) continue;
      const std::vector<std::string> typed = components(key);
      const std::string action = rule + "." + typed[0] + "." + typed[1];
      const std::string inner = key.substr(typed[0].size() + typed[1].size() + 2);
      const std::string type = audit_setting(db, action, "action_type");
      const ActionKind* kind = action_kind_find(type.c_str());
      std::vector<std::string> known = key_list(kActionSettings);
      if (kind != nullptr) {
        const std::vector<std::string> own = key_list(kind->settings, type + ".");
        known.insert(known.end(), own.begin(), own.end());
      }
      // The kind's own element may stand empty; another kind's is left alone.
      if (known_key(known, numbered_form(inner)) || (parts[2] == type ? parts.size() == 3 : is_action_type(parts[2]))) {
        continue;
      }
      report_unread(report, rule + "." + key, inner, "an action", known);
    } else if (check != nullptr && form.compare(0, strlen(check->domain) + 1, std::string(check->domain) + ".") == 0) {
      if (!known_key(check_keys, form)) report_unread(report, rule + "." + key, key, check_owner, check_keys);
    } else if (!known_key(rule_keys, form) && !is_domain_head(parts[0]) && !is_action_type(parts[0])) {
      report_unread(report, rule + "." + key, key, "a rule", rule_keys);
    }
  }
}

void audit_rule(AuditReport* report, const OfflineConfig& config, const OfflineRule& rule) {
  xmldb_t* db = config.db();
  const std::string& p = rule.path;
  if (rule.name.empty()) {
    report->error(p + ".name", "missing, so the daemon skips this rule; give the rule a name");
  }
  const CheckType* check = check_type_named(rule.check_type.c_str());
  if (rule.check_type.empty()) {
    report->error(p + ".check_type", "missing, so the daemon skips this rule; use " + one_of(check_type_names()));
  } else if (check == nullptr) {
    audit_choice(report, p + ".check_type", rule.check_type, check_type_names(), "a check type",
                 "the daemon skips this rule");
  }
  audit_flag(report, p + ".repeat_trigger", audit_setting(db, p, "repeat_trigger"));
  audit_whole_number(report, p + ".reset_timeout", audit_setting(db, p, "reset_timeout"));
  audit_whole_number(report, p + ".repeat_timeout", audit_setting(db, p, "repeat_timeout"));
  audit_schedule(report, db, p);
  audit_burst(report, db, p);

  const std::vector<uint32_t> audited = config.audit_references(rule, report);
  bool has_resolve = true;
  if (check != nullptr) {
    has_resolve = check->on_change_flag != nullptr ? xmldb_getbool(db, p.c_str(), check->on_change_flag) == 0
                                                   : check->has_resolve;
  }
  audit_action_list(report, db, p + ".trigger_actions", check);
  if (has_resolve) {
    audit_action_list(report, db, p + ".resolve_actions", check);
  } else if (xmldb_getsize(db, p.c_str(), "resolve_actions.total") > 0 ||
             !numbered_entries(db, p + ".resolve_actions", "action").empty()) {
    const std::string why = check->on_change_flag != nullptr
                                ? std::string("with ") + check->on_change_flag + " on, the rule has"
                                : std::string("rules of type ") + check->name + " have";
    report->warning(p + ".resolve_actions", "never run: " + why + " no resolve stage; remove them");
  }
  explain_findings(report, rule, audited);
  audit_unread_keys(report, db, p, check);
}

}  // namespace

void audit_configuration(const OfflineConfig& config, AuditReport* report) {
  xmldb_t* db = config.db();
  audit_total(report, db, kRulesRoot, "autoresponse", kMaxRules, "the daemon logs an error for each missing rule");
  for (const char* key : {"boot_delay", "concurrent_actions", "action_timeout"}) {
    audit_whole_number(report, std::string(kRulesRoot) + "." + key, audit_setting(db, kRulesRoot, key));
  }
  audit_flag(report, "config.cms.enabled", audit_setting(db, "config.cms", "enabled"));
  for (const LoadFinding& f : config.findings()) {
    if (!explain_cut(report, f)) {
      report->add({f.priority <= 300 ? AuditLevel::kError : AuditLevel::kWarning, kRulesRoot,
                   "the daemon logs " + quoted(f.text), AuditKind::kLoader});
    }
  }
  for (const OfflineRule& rule : config.rules()) {
    for (const LoadFinding& f : rule.findings) explain_cut(report, f);
    if (audit_holds(db, rule.path)) audit_rule(report, config, rule);
  }
}
