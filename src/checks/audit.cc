// Audit findings and the value checks the audits share.
#include "checks/audit.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"

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

// The edits (insertions, deletions, changes, swaps of neighbours) that
// make a into b.
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

}  // namespace

void AuditReport::add(AuditLevel level, const std::string& path, const std::string& text) {
  if (level == AuditLevel::kError) ++errors_reported_;
  for (const AuditFinding& f : findings_) {
    if (f.level == level && f.path == path && f.text == text) return;
  }
  findings_.push_back(AuditFinding{level, path, text});
}

size_t AuditReport::count(AuditLevel level) const {
  size_t n = 0;
  for (const AuditFinding& f : findings_) n += f.level == level ? 1 : 0;
  return n;
}

bool AuditReport::has_error_under(const std::string& path) const {
  for (const AuditFinding& f : findings_) {
    if (f.level != AuditLevel::kError) continue;
    if (f.path == path || (f.path.size() > path.size() && f.path.compare(0, path.size(), path) == 0 &&
                           f.path[path.size()] == '.')) {
      return true;
    }
  }
  return false;
}

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
                  const char* what) {
  if (ref.empty()) return;
  if (ref.compare(0, 7, "config.") != 0) {
    report->warning(path, quoted(ref) + " does not begin with \"config.\", so it names no " + what +
                              " of the appliance; write config." + ref);
    return;
  }
  const std::string device = first_components(ref, depth);
  if (xmldb_subtree(db, device.c_str()) == nullptr) {
    report->warning(path, "this configuration has no " + std::string(what) + " " + device +
                              ", so nothing will report for it; check the name");
  }
}

std::string no_subscription(const std::string& fix) {
  return "this reference gets no subscription and never triggers; " + fix;
}

std::string audit_path(const ArCheck* check, const char* key) { return check->conf.ar->path + "." + key; }

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
