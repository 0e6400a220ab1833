// Offline audits of a configuration: the findings `arctl check` reports,
// and the helpers the check modules' audit operations share. An audit only
// reads the configuration; it logs nothing and changes nothing.
//
// Every finding names the dotted configuration path it concerns and says,
// for a person, what is wrong, what the daemon makes of it and how to fix it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/xmldb.h"

struct ArCheck;

enum class AuditLevel {
  kError,    // the rule does not work as written
  kWarning,  // it depends on the machine the configuration is checked on
};

// What a finding is about, for programs that sort findings.
enum class AuditKind {
  kSetting,  // a setting's value, or a setting missing
  kList,     // a numbered list: its total, its entries' names, its limit
  kDevice,   // a reference to a device of the appliance
  kScript,   // a script as this machine has it
  kUnread,   // an element that nothing reads
  kLoader,   // what the daemon's loader logs, in its words
};

struct AuditFinding {
  AuditLevel level;
  std::string path;  // the dotted configuration path
  std::string text;  // what is wrong, and what to do
  AuditKind kind = AuditKind::kSetting;
  // A warning that only says this is not the appliance: a script this
  // machine lacks, or a device in a file that holds nothing but rules. On
  // the appliance, with its whole configuration, it would be a fault.
  bool not_appliance = false;
  uint32_t reference = 0;  // from 1, where the maker knows the one reference concerned; else 0
};

// The findings in the order they were made. A rule's settings are audited
// once per reference, so the same finding made again is kept once.
class AuditReport {
 public:
  void add(AuditFinding finding);
  void add(AuditLevel level, const std::string& path, const std::string& text) {
    add(AuditFinding{level, path, text});
  }
  void error(const std::string& path, const std::string& text) { add(AuditLevel::kError, path, text); }
  void warning(const std::string& path, const std::string& text) { add(AuditLevel::kWarning, path, text); }

  const std::vector<AuditFinding>& findings() const { return findings_; }
  size_t count(AuditLevel level) const;
  // Errors reported so far, those kept once included: tells whether an
  // audit found an error even when an earlier one had found it too.
  size_t errors_reported() const { return errors_reported_; }
  // Whether an error was made at path or below it.
  bool has_error_under(const std::string& path) const;

 private:
  std::vector<AuditFinding> findings_;
  std::unordered_set<std::string> kept_;  // level, path and text of each finding
  std::set<std::string> error_paths_;
  size_t errors_reported_ = 0;
};

// --- Texts ------------------------------------------------------------------

// The edits (insertions, deletions, changes, swaps of neighbours) that
// make a into b.
size_t edit_distance(const std::string& a, const std::string& b);

// text in double quotes, for quoting a configured value.
std::string quoted(const std::string& text);

// A setting under prefix, as a copy ("" when absent): a database text
// lives only for a few further reads.
std::string audit_setting(xmldb_t* db, const std::string& prefix, const char* key);

// Whether the configuration holds an element at path.
bool audit_holds(xmldb_t* db, const std::string& path);

// "a", "a or b", "a, b or c".
std::string one_of(std::initializer_list<const char*> words);
std::string one_of(const std::vector<std::string>& words);

// --- Values, by their dotted path ------------------------------------------
// Each takes the value as configured; an empty value is left to the caller
// (absent settings have their own meaning everywhere).

// A whole number as the daemon reads sizes and codes (leading blanks, a
// sign, digits): an error for text without a number, for text after it
// and for a number beyond the 32-bit range.
void audit_whole_number(AuditReport* report, const std::string& path, const std::string& value);

// A decimal number as the daemon reads readings and thresholds (strtof):
// an error for text without a number, for text after it, and for one that
// is not finite.
void audit_decimal_number(AuditReport* report, const std::string& path, const std::string& value);

// A flag: on/off, true/false, yes/no or 1/0 in any case; any other text is
// an error, since the daemon reads it as off.
void audit_flag(AuditReport* report, const std::string& path, const std::string& value);

// A value that must be one of words exactly: otherwise an error "<value> is
// not <what>, so <consequence>" (what the daemon makes of it) and the words
// to use, or the one it differs from only in case. True when it is one.
bool audit_choice(AuditReport* report, const std::string& path, const std::string& value,
                  const std::vector<std::string>& words, const char* what, const std::string& consequence);

// A reference to a device of the appliance: a warning when it lacks its
// "config." prefix, and one when the configuration does not hold the
// device, the first depth components of ref (all of it when depth is 0);
// that one only says this is not the appliance when the file holds nothing
// but rules (no element under <config> but autoresponse and cms).
// what names the device for the message ("port", "UPS"), consequence what
// follows from its absence.
void audit_device(AuditReport* report, xmldb_t* db, const std::string& path, const std::string& ref, size_t depth,
                  const char* what, const char* consequence = "nothing will report for it");

// --- Numbered lists ("total" and entry1, entry2, ...) ----------------------

// The numbers k of the children of the element at path named prefix<k>,
// k from 1 written as the loader writes it. Children named prefix and a
// digit but otherwise (prefix01, prefix2x) go to odd when it is given.
std::set<long> numbered_entries(xmldb_t* db, const std::string& path, const std::string& prefix,
                                std::vector<std::string>* odd = nullptr);

// The "total" of the list at path against its entries prefix<k>: entries
// past it are never read; entries it counts (up to limit) that are missing
// have the consequence given; entries named otherwise are never read. The
// loader reads at least at_least entries whatever the total says.
void audit_total(AuditReport* report, xmldb_t* db, const std::string& path, const std::string& prefix, long limit,
                 const char* consequence, long at_least = 0);

// --- The settings of a check's rule ----------------------------------------

// The dotted path of key under the check's rule.
std::string audit_path(const ArCheck* check, const char* key);

// "this reference gets no subscription and never triggers; " and fix: the
// consequence of a setting the subscription key is made of.
std::string no_subscription(const std::string& fix);

// The setting key of the check's rule; when it is absent or empty, an error
// "missing" with the consequence. True when it is set.
bool audit_required(const ArCheck* check, const char* key, const std::string& consequence, AuditReport* report);

// The helpers above on a setting of the check's rule.
void audit_whole_number(const ArCheck* check, const char* key, AuditReport* report);
void audit_decimal_number(const ArCheck* check, const char* key, AuditReport* report);
void audit_flag(const ArCheck* check, const char* key, AuditReport* report);

// audit_device for the reference held by the setting key.
void audit_device(const ArCheck* check, const char* key, size_t depth, const char* what, AuditReport* report);

// The device of the check's reference that the setting
// "<domain>.dev_refs.dev_ref<ref_index>" names, for the checks that take
// one per reference: the list's total against its entries, and a missing
// entry that no total accounts for (no subscription). Returns the setting's
// key and value.
std::string audit_reference_entry(const ArCheck* check, const char* domain, const std::string& fix,
                                  AuditReport* report, std::string* key);
