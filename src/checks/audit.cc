// Audit findings and the value checks the audits share.
#include "checks/audit.h"

#include <strings.h>

#include <cctype>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "checks/check_type.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "platform/scew.h"

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// value without its leading and trailing blanks.
std::string trimmed(const std::string& value) {
  size_t begin = 0, end = value.size();
  while (begin < end && blank(value[begin])) ++begin;
  while (end > begin && blank(value[end - 1])) --end;
  return value.substr(begin, end - begin);
}

// The first depth components of ref; all of it when it has no more.
std::string first_components(const std::string& ref, size_t depth) {
  if (depth == 0) return ref;
  size_t dots = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    if (ref[i] == '.' && ++dots == depth) return ref.substr(0, i);
  }
  return ref;
}

// The one word that value is a slip of the keyboard away from; null when
// there is none, or more than one.
const std::string* near_word(const std::string& value, const std::vector<std::string>& words) {
  if (value.size() < 3) return nullptr;
  const std::string* found = nullptr;
  for (const std::string& word : words) {
    if (edit_distance(value, word) > 2) continue;
    if (found != nullptr) return nullptr;
    found = &word;
  }
  return found;
}

// "action3", "action3 and action5", "action3 to action9" (a run), or the
// first three "and 4 more".
std::string entry_names(const std::string& prefix, const std::vector<long>& numbers) {
  const auto name = [&](long n) { return prefix + std::to_string(n); };
  if (numbers.size() >= 3 && numbers.back() - numbers.front() + 1 == static_cast<long>(numbers.size())) {
    return name(numbers.front()) + " to " + name(numbers.back());
  }
  std::string out;
  const size_t shown = numbers.size() > 4 ? 3 : numbers.size();
  for (size_t i = 0; i < shown; ++i) {
    if (i > 0) out += i + 1 == shown && shown == numbers.size() ? " and " : ", ";
    out += name(numbers[i]);
  }
  if (shown < numbers.size()) out += " and " + std::to_string(numbers.size() - shown) + " more";
  return out;
}

// Whether the file holds nothing but rules (and central management): a
// file written on a development machine, not the appliance's whole
// configuration, which holds its ports and other devices beside them.
bool rules_alone(xmldb_t* db) {
  const scew_element* root = xmldb_subtree(db, "config");
  for (const scew_list* l = root != nullptr ? scew_element_children(root) : nullptr; l != nullptr;
       l = scew_list_next(l)) {
    const char* name = scew_element_name(static_cast<const scew_element*>(scew_list_data(l)));
    if (name != nullptr && strcmp(name, "autoresponse") != 0 && strcmp(name, "cms") != 0) return false;
  }
  return true;
}

}  // namespace

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

void AuditReport::add(AuditFinding finding) {
  const bool error = finding.level == AuditLevel::kError;
  if (error) ++errors_reported_;
  std::string key = (error ? "e" : "w") + finding.path;
  key += '\0';
  key += finding.text;
  if (!kept_.insert(std::move(key)).second) return;
  if (error) error_paths_.insert(finding.path);
  findings_.push_back(std::move(finding));
}

size_t AuditReport::count(AuditLevel level) const {
  size_t n = 0;
  for (const AuditFinding& f : findings_) n += f.level == level ? 1 : 0;
  return n;
}

bool AuditReport::has_error_under(const std::string& path) const {
  // The paths that begin with path follow it in order.
  for (auto it = error_paths_.lower_bound(path); it != error_paths_.end(); ++it) {
    if (it->compare(0, path.size(), path) != 0) break;
    if (it->size() == path.size() || (*it)[path.size()] == '.') return true;
  }
  return false;
}

std::string audit_setting(xmldb_t* db, const std::string& prefix, const char* key) {
  return xmldb_getstring(db, prefix.c_str(), key);
}

bool audit_holds(xmldb_t* db, const std::string& path) { return xmldb_subtree(db, path.c_str()) != nullptr; }

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string one_of(const std::vector<std::string>& words) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? " or " : ", ";
    out += words[i];
  }
  return out;
}

std::string one_of(std::initializer_list<const char*> words) {
  return one_of(std::vector<std::string>(words.begin(), words.end()));
}

void audit_whole_number(AuditReport* report, const std::string& path, const std::string& value) {
  const std::string text = trimmed(value);
  if (text.empty()) return;
  errno = 0;
  char* end = nullptr;
  const long long n = strtoll(text.c_str(), &end, 10);
  if (end == text.c_str()) {
    report->error(path, quoted(value) + " is not a number, so the daemon reads it as 0; write a whole number");
  } else if (errno == ERANGE || n > INT32_MAX || n < INT32_MIN) {
    report->error(path, quoted(value) + " is out of range; write a whole number below 2147483648");
  } else if (*end != '\0') {
    report->error(path, quoted(value) + " is read as " + std::to_string(n) + "; write the whole number alone");
  }
}

void audit_decimal_number(AuditReport* report, const std::string& path, const std::string& value) {
  const std::string text = trimmed(value);
  if (text.empty()) return;
  char* end = nullptr;
  const float n = strtof(text.c_str(), &end);
  if (end == text.c_str()) {
    report->error(path, quoted(value) + " is not a number, so the daemon reads it as 0; write a number such as 35 or 35.5");
  } else if (!std::isfinite(n)) {
    report->error(path, quoted(value) + " is not a finite number, so nothing ever compares with it; write a number");
  } else if (*end != '\0') {
    report->error(path, quoted(value) + " is read as " + text.substr(0, static_cast<size_t>(end - text.c_str())) +
                            "; write the number alone, without a unit");
  }
}

void audit_flag(AuditReport* report, const std::string& path, const std::string& value) {
  if (value.empty()) return;
  for (const char* word : {"on", "off", "true", "false", "yes", "no", "1", "0"}) {
    if (strcasecmp(value.c_str(), word) == 0) return;
  }
  report->error(path, quoted(value) + " is not a flag, so the daemon reads it as off; write on or off");
}

bool audit_choice(AuditReport* report, const std::string& path, const std::string& value,
                  const std::vector<std::string>& words, const char* what, const std::string& consequence) {
  for (const std::string& word : words) {
    if (value == word) return true;
  }
  std::string text = quoted(value) + " is not " + what;
  if (!consequence.empty()) text += ", so " + consequence;
  const std::string* same_but_case = nullptr;
  for (const std::string& word : words) {
    if (strcasecmp(value.c_str(), word.c_str()) == 0) same_but_case = &word;
  }
  if (same_but_case != nullptr) {
    text += "; the names are lower case: write " + *same_but_case;
  } else if (const std::string* near = near_word(value, words)) {
    text += "; did you mean " + *near + "? (" + (words.size() == 2 ? "either " : "one of ") + one_of(words) + ")";
  } else {
    text += "; use " + one_of(words);
  }
  report->error(path, text);
  return false;
}

void audit_device(AuditReport* report, xmldb_t* db, const std::string& path, const std::string& ref, size_t depth,
                  const char* what, const char* consequence) {
  if (ref.empty()) return;
  if (ref.compare(0, 7, "config.") != 0) {
    report->add({AuditLevel::kWarning, path,
                 quoted(ref) + " does not begin with \"config.\", so it names no " + what +
                     " of the appliance; write config." + ref,
                 AuditKind::kDevice});
    return;
  }
  const std::string device = first_components(ref, depth);
  if (xmldb_subtree(db, device.c_str()) == nullptr) {
    report->add({AuditLevel::kWarning, path,
                 "this configuration has no " + std::string(what) + " " + device + ", so " + consequence +
                     "; check the name",
                 AuditKind::kDevice, rules_alone(db)});
  }
}

std::string no_subscription(const std::string& fix) {
  return "this reference gets no subscription and never triggers; " + fix;
}

std::set<long> numbered_entries(xmldb_t* db, const std::string& path, const std::string& prefix,
                                std::vector<std::string>* odd) {
  std::set<long> numbers;
  const scew_element* element = xmldb_subtree(db, path.c_str());
  if (element == nullptr) return numbers;
  for (const scew_list* l = scew_element_children(element); l != nullptr; l = scew_list_next(l)) {
    const char* name = scew_element_name(static_cast<const scew_element*>(scew_list_data(l)));
    if (name == nullptr) continue;
    const std::string child = name;
    if (child.size() <= prefix.size() || child.compare(0, prefix.size(), prefix) != 0 ||
        !isdigit(static_cast<unsigned char>(child[prefix.size()]))) {
      continue;
    }
    const std::string digits = child.substr(prefix.size());
    errno = 0;
    char* end = nullptr;
    const long k = strtol(digits.c_str(), &end, 10);
    if (*end == '\0' && errno == 0 && k >= 1 && std::to_string(k) == digits) {
      numbers.insert(k);
    } else if (odd != nullptr) {
      odd->push_back(child);
    }
  }
  return numbers;
}

void audit_total(AuditReport* report, xmldb_t* db, const std::string& list, const std::string& prefix, long limit,
                 const char* consequence, long at_least) {
  const std::string path = list + ".total";
  const std::string text = xmldb_getstring(db, list.c_str(), "total");
  audit_whole_number(report, path, text);
  const long total = std::max<long>(xmldb_getsize(db, list.c_str(), "total"), at_least);
  const std::string is = text.empty() ? "missing" : "is " + text;
  std::vector<std::string> odd;
  const std::set<long> present = numbered_entries(db, list, prefix, &odd);
  for (const std::string& name : odd) {
    report->add({AuditLevel::kWarning, list + "." + name,
                 "is never read: the entries are named " + prefix + "1, " + prefix +
                     "2 and so on, without leading zeros or other text",
                 AuditKind::kList});
  }
  std::vector<long> beyond;
  for (long n : present) {
    if (n > total) beyond.push_back(n);
  }
  if (!beyond.empty()) {
    report->add({AuditLevel::kError, path,
                 is + ", but " + entry_names(prefix, beyond) + (beyond.size() == 1 ? " is" : " are") +
                     " present too and never read; set it to " + std::to_string(*present.rbegin()),
                 AuditKind::kList});
  }
  std::vector<long> missing;
  for (long k = 1; k <= std::min(total, limit); ++k) {
    if (present.count(k) == 0) missing.push_back(k);
  }
  if (!missing.empty()) {
    report->add({AuditLevel::kError, path,
                 is + ", but " + entry_names(prefix, missing) + (missing.size() == 1 ? " is" : " are") +
                     " missing, so " + consequence + "; number the entries from 1 without gaps and set " +
                     "the total to their count",
                 AuditKind::kList});
  }
}

std::string audit_path(const ArCheck* check, const char* key) { return check->conf.ar->path() + "." + key; }

bool audit_required(const ArCheck* check, const char* key, const std::string& consequence, AuditReport* report) {
  if (check_setting(check, key)[0] != '\0') return true;
  report->error(audit_path(check, key), "missing, so " + consequence);
  return false;
}

void audit_whole_number(const ArCheck* check, const char* key, AuditReport* report) {
  audit_whole_number(report, audit_path(check, key), check_setting(check, key));
}

void audit_decimal_number(const ArCheck* check, const char* key, AuditReport* report) {
  audit_decimal_number(report, audit_path(check, key), check_setting(check, key));
}

void audit_flag(const ArCheck* check, const char* key, AuditReport* report) {
  audit_flag(report, audit_path(check, key), check_setting(check, key));
}

void audit_device(const ArCheck* check, const char* key, size_t depth, const char* what, AuditReport* report) {
  audit_device(report, check->conf.ar->config_db, audit_path(check, key), check_setting(check, key), depth, what);
}

std::string audit_reference_entry(const ArCheck* check, const char* domain, const std::string& fix,
                                  AuditReport* report, std::string* key) {
  const std::string list = std::string(domain) + ".dev_refs";
  xmldb_t* db = check->conf.ar->config_db;
  if (xmldb_subtree(db, audit_path(check, list.c_str()).c_str()) != nullptr) {
    // Without a total the rule has one reference, and reads dev_ref1.
    audit_total(report, db, audit_path(check, list.c_str()), "dev_ref", kMaxReferences,
                "those references get no subscription and never trigger", 1);
  }
  *key = list + ".dev_ref" + std::to_string(check->conf.ref_index);
  const std::string value = check_setting(check, key->c_str());
  // A reference the total counts is reported with the total, in one line
  // however many are missing.
  const bool counted = check_setting_size(check, (list + ".total").c_str()) >= static_cast<int32_t>(check->conf.ref_index);
  if (value.empty() && !counted) report->error(audit_path(check, key->c_str()), "missing, so " + no_subscription(fix));
  return value;
}
