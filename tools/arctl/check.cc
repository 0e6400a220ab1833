// `arctl check [--strict[=all]] [--json] [FILE]`: loads a configuration
// with the daemon's own loader and check modules, offline, and reports what
// is wrong with it, to people or as JSON to the scripts that gate it.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/offline.h"
#include "arctl/rule_audit.h"
#include "arctl/text.h"
#include "checks/audit.h"
#include "model/autoresponse.h"
#include "platform/xml_tree.h"

namespace {

// What the warnings that only say this is not the appliance are listed under.
constexpr const char* kNotApplianceHeading = "only because this is not the appliance:";

// "1 rule", "2 rules".
std::string count(size_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

// Whether file is a well-formed configuration; otherwise says why, with
// the parser's line and column.
bool readable(const std::string& file, std::ostream& err) {
  const int fd = open_config_file(file, err);
  if (fd < 0) return false;
  std::string error;
  const std::unique_ptr<XmlTree> tree = xml_tree_read(fd, &error);
  close(fd);
  if (!tree) {
    err << "arctl: " << visible(file) << ": " << error << "\n";
    return false;
  }
  if (tree->root() == XmlTree::kNone || strcmp(tree->name(tree->root()), "config") != 0) {
    err << "arctl: " << visible(file) << ": the root element is not <config>\n";
    return false;
  }
  return true;
}

// Where a finding is, as far as its path or its maker tells: the rule, the
// reference and the action it concerns (0 for none) and the action's list.
struct Place {
  uint32_t rule = 0;
  uint32_t reference = 0;
  const char* list = nullptr;  // "trigger" or "resolve"
  uint32_t action = 0;
};

// The number that follows prefix in component, written as the loader
// writes it ("action2": 2); 0 for none.
uint32_t entry_number(const std::string& component, const std::string& prefix) {
  if (component.size() <= prefix.size() || component.size() > prefix.size() + 9 ||
      component.compare(0, prefix.size(), prefix) != 0 || component[prefix.size()] == '0' ||
      component.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
    return 0;
  }
  return static_cast<uint32_t>(std::stoul(component.substr(prefix.size())));
}

Place place_of(const AuditFinding& f) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t dot = f.path.find('.', from);
    parts.push_back(f.path.substr(from, dot - from));
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  Place place;
  place.reference = f.reference;
  if (parts.size() < 3 || parts[0] != "config" || parts[1] != "autoresponse") return place;
  place.rule = entry_number(parts[2], "autoresponse");
  if (place.rule == 0) return place;
  if (parts.size() >= 4 && (parts[3] == "trigger_actions" || parts[3] == "resolve_actions")) {
    place.list = parts[3] == "trigger_actions" ? "trigger" : "resolve";
    if (parts.size() >= 5) place.action = entry_number(parts[4], "action");
  }
  for (size_t i = 4; i < parts.size() && place.reference == 0; ++i) {
    if (parts[i - 1] == "dev_refs") place.reference = entry_number(parts[i], "dev_ref");
  }
  return place;
}

const char* kind_name(AuditKind kind) {
  switch (kind) {
    case AuditKind::kSetting: return "setting";
    case AuditKind::kList: return "list";
    case AuditKind::kDevice: return "device";
    case AuditKind::kScript: return "script";
    case AuditKind::kUnread: return "unread";
    case AuditKind::kLoader: return "loader";
  }
  return "setting";
}

const char* strict_name(Strictness strict) {
  switch (strict) {
    case Strictness::kOff: return "off";
    case Strictness::kWarnings: return "warnings";
    case Strictness::kAll: return "all";
  }
  return "off";
}

// A number, or null for 0 (none).
std::string json_number(uint32_t n) { return n == 0 ? "null" : std::to_string(n); }

// What a file that cannot be checked gives as JSON: the message said on err.
void print_unreadable_json(std::ostream& out, const std::string& file, const std::string& said) {
  std::string message = said;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  out << "{\"file\": " << json_string(file) << ", \"status\": 2, \"error\": " << json_string(message) << "}\n";
}

void print_json(std::ostream& out, const std::string& file, int status, Strictness strict,
                const OfflineConfig& config, const AuditReport& report, size_t not_appliance) {
  out << "{\"file\": " << json_string(file) << ", \"status\": " << status << ", \"strict\": \""
      << strict_name(strict) << "\",\n \"loaded\": {\"rules\": " << config.rules_loaded()
      << ", \"references\": " << config.references_loaded() << ", \"actions\": " << config.actions_loaded()
      << "},\n \"counts\": {\"errors\": " << report.count(AuditLevel::kError)
      << ", \"warnings\": " << report.count(AuditLevel::kWarning) << ", \"not_appliance\": " << not_appliance
      << "},\n \"findings\": [";
  const char* separator = "\n  ";
  for (const AuditFinding& f : report.findings()) {
    const Place place = place_of(f);
    std::string rule_name = "null";
    if (place.rule != 0) {
      const std::string name = audit_setting(config.db(), kRulePathPrefix + std::to_string(place.rule), "name");
      if (!name.empty()) rule_name = json_string(name);
    }
    out << separator << "{\"severity\": \"" << (f.level == AuditLevel::kError ? "error" : "warning")
        << "\", \"kind\": \"" << kind_name(f.kind) << "\", \"not_appliance\": " << (f.not_appliance ? "true" : "false")
        << ", \"path\": " << json_string(f.path) << ", \"rule\": " << json_number(place.rule)
        << ", \"rule_name\": " << rule_name << ", \"reference\": " << json_number(place.reference)
        << ", \"action_list\": " << (place.list != nullptr ? std::string("\"") + place.list + "\"" : "null")
        << ", \"action\": " << json_number(place.action) << ", \"text\": " << json_string(f.text) << "}";
    separator = ",\n  ";
  }
  out << (report.findings().empty() ? "]}\n" : "\n]}\n");
}

void print_line(std::ostream& out, const AuditFinding& f) {
  out << (f.level == AuditLevel::kError ? "error: " : "warning: ") << visible(f.path) << ": " << visible(f.text)
      << "\n";
}

void print_text(std::ostream& out, const OfflineConfig& config, const AuditReport& report, size_t not_appliance) {
  for (const AuditFinding& f : report.findings()) {
    if (!f.not_appliance) print_line(out, f);
  }
  if (not_appliance > 0) {
    out << kNotApplianceHeading << "\n";
    for (const AuditFinding& f : report.findings()) {
      if (f.not_appliance) print_line(out, f);
    }
  }
  out << count(config.rules_loaded(), "rule") << ", " << count(config.references_loaded(), "reference") << ", "
      << count(config.actions_loaded(), "action") << " loaded; " << count(report.count(AuditLevel::kError), "error")
      << ", " << count(report.count(AuditLevel::kWarning), "warning");
  if (not_appliance > 0) out << " (" << not_appliance << " only because this is not the appliance)";
  out << "\n";
}

int run_check(Invocation& inv) {
  return check_configuration(inv.words.empty() ? default_config_file() : inv.words[0], inv.out, inv.err,
                             CheckOptions{inv.strict, inv.json});
}

}  // namespace

int check_configuration(const std::string& file, std::ostream& out, std::ostream& err, const CheckOptions& options) {
  // As JSON, why the file cannot be checked goes into the object too.
  std::ostringstream said;
  std::ostream& complaints = options.json ? said : err;
  const auto unreadable = [&] {
    if (options.json) {
      err << said.str();
      print_unreadable_json(out, file, said.str());
    }
    return 2;
  };
  if (!readable(file, complaints)) return unreadable();
  const OfflineConfig config(file);
  if (!config.ok()) {
    complaints << "arctl: " << visible(file) << " cannot be opened as a configuration\n";
    return unreadable();
  }
  AuditReport report;
  audit_configuration(config, &report);
  size_t not_appliance = 0;
  for (const AuditFinding& f : report.findings()) not_appliance += f.not_appliance ? 1 : 0;
  const size_t warnings = report.count(AuditLevel::kWarning);
  const size_t failing_warnings = options.strict == Strictness::kAll        ? warnings
                                  : options.strict == Strictness::kWarnings ? warnings - not_appliance
                                                                            : 0;
  const int status = report.count(AuditLevel::kError) > 0 || failing_warnings > 0 ? 1 : 0;
  if (options.json) {
    print_json(out, file, status, options.strict, config, report, not_appliance);
  } else {
    print_text(out, config, report, not_appliance);
  }
  return status;
}

const Command kCheckCommand = {
    "check",
    "[--strict[=all]] [--json] [FILE]",
    "test a configuration before the daemon loads it",
    "Loads the rules of FILE with the daemon's own loader and check modules,\n"
    "without infod and without running anything, and prints one line per\n"
    "finding, then a summary:\n"
    "  error: PATH: what is wrong, and how to fix it\n"
    "  warning: PATH: what depends on this machine (devices, scripts)\n"
    "PATH is the dotted configuration path the finding concerns. Warnings that\n"
    "only say this is not the appliance (a script this machine lacks, a device\n"
    "in a file that holds nothing but rules) come last, under the heading\n"
    "\"only because this is not the appliance:\". FILE is by default\n"
    "$XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "  --strict      warnings fail too, but those that only say this is not\n"
    "                the appliance\n"
    "  --strict=all  every warning fails (on the appliance itself)\n"
    "  --json        one JSON object instead, for programs (see arctl(8))\n"
    "\n"
    "Exit status: 0 no error, 1 errors found (or warnings, with --strict),\n"
    "2 FILE cannot be read or parsed or is not a regular file (a FIFO or a\n"
    "device is refused at once).\n",
    kOptionStrict | kOptionJson,
    0,
    1,
    run_check,
};
