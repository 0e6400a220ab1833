// `arctl check [--strict[=all]] [--json | --format=gcc] [FILE]`: loads a
// configuration with the daemon's own loader and check modules, offline,
// and reports what is wrong with it, to people, as JSON to the scripts that
// gate it, or as compilers write their diagnostics for a CI to annotate.
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

// Why a file cannot be checked, and where in it when the parser says.
struct Unreadable {
  std::string said;      // the message on err
  XmlPosition at;        // none when the file could not be read
  std::string problem;   // what is wrong at that place
};

// The tree of file, with where each element starts, when it is a
// well-formed configuration; otherwise null, with why on err and in
// *unreadable.
std::unique_ptr<XmlTree> readable(const std::string& file, std::ostream& err, Unreadable* unreadable) {
  std::ostringstream said;
  const int fd = open_config_file(file, said);
  std::unique_ptr<XmlTree> tree;
  if (fd >= 0) {
    std::string error;
    tree = xml_tree_read(fd, &error, {.positions = true}, &unreadable->at);
    close(fd);
    if (!tree) {
      said << "arctl: " << visible(file) << ": " << error << "\n";
      // The parser's reason without its " at line L, column C".
      unreadable->problem = error.substr(0, error.rfind(" at line "));
    } else if (tree->root() == XmlTree::kNone || strcmp(tree->name(tree->root()), "config") != 0) {
      said << "arctl: " << visible(file) << ": the root element is not <config>\n";
      unreadable->at = tree->position(tree->root());
      unreadable->problem = "the root element is not <config>";
      tree.reset();
    }
  }
  unreadable->said = said.str();
  err << unreadable->said;
  return tree;
}

// Where the element a finding is about starts: that of its path, or of the
// nearest element above it that the file holds (a setting that is missing
// is placed at the element that lacks it). The root for a path outside
// the file.
XmlPosition position_of(const XmlTree& tree, std::string path) {
  for (;;) {
    const XmlTree::Id id = tree.find(path);
    if (id != XmlTree::kNone) return tree.position(id);
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return tree.position(tree.root());
    path.resize(dot);
  }
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

// What a file that cannot be checked gives as JSON: the message said on
// err, and where the parser found the fault.
void print_unreadable_json(std::ostream& out, const std::string& file, const Unreadable& why) {
  std::string message = why.said;
  while (!message.empty() && message.back() == '\n') message.pop_back();
  out << "{\"file\": " << json_string(file) << ", \"status\": 2, \"error\": " << json_string(message);
  if (why.at.line > 0) out << ", \"line\": " << why.at.line << ", \"column\": " << why.at.column;
  out << "}\n";
}

void print_json(std::ostream& out, const std::string& file, int status, Strictness strict,
                const OfflineConfig& config, const XmlTree& tree, const AuditReport& report, size_t not_appliance) {
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
        << ", \"action\": " << json_number(place.action) << ", \"text\": " << json_string(f.text);
    const XmlPosition at = position_of(tree, f.path);
    out << ", \"file\": " << json_string(file) << ", \"line\": " << at.line << ", \"column\": " << at.column << "}";
    separator = ",\n  ";
  }
  out << (report.findings().empty() ? "]}\n" : "\n]}\n");
}

void print_summary(std::ostream& out, const OfflineConfig& config, const AuditReport& report, size_t not_appliance) {
  out << count(config.rules_loaded(), "rule") << ", " << count(config.references_loaded(), "reference") << ", "
      << count(config.actions_loaded(), "action") << " loaded; " << count(report.count(AuditLevel::kError), "error")
      << ", " << count(report.count(AuditLevel::kWarning), "warning");
  if (not_appliance > 0) out << " (" << not_appliance << " only because this is not the appliance)";
  out << "\n";
}

// "FILE:LINE:COL: error: PATH: TEXT", as compilers write a diagnostic, the
// warnings that only say this is not the appliance tagged as compilers tag
// a warning with its option; then the summary.
void print_gcc(std::ostream& out, const std::string& file, const OfflineConfig& config, const XmlTree& tree,
               const AuditReport& report, size_t not_appliance) {
  for (bool apart : {false, true}) {
    for (const AuditFinding& f : report.findings()) {
      if (f.not_appliance != apart) continue;
      const XmlPosition at = position_of(tree, f.path);
      out << visible(file) << ":" << at.line << ":" << at.column << ": "
          << (f.level == AuditLevel::kError ? "error: " : "warning: ") << visible(f.path) << ": " << visible(f.text)
          << (apart ? " [not-appliance]" : "") << "\n";
    }
  }
  print_summary(out, config, report, not_appliance);
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
  print_summary(out, config, report, not_appliance);
}

int run_check(Invocation& inv) {
  bool gcc = false;
  if (inv.format) {
    if (*inv.format != "gcc" && *inv.format != "text") {
      return usage_error(inv.err, "--format takes text or gcc, not " + visible(*inv.format), &kCheckCommand);
    }
    gcc = *inv.format == "gcc";
    if (gcc && inv.json) return usage_error(inv.err, "--json and --format=gcc exclude each other", &kCheckCommand);
  }
  return check_configuration(inv.words.empty() ? default_config_file() : inv.words[0], inv.out, inv.err,
                             CheckOptions{inv.strict, inv.json, gcc});
}

}  // namespace

int check_configuration(const std::string& file, std::ostream& out, std::ostream& err, const CheckOptions& options) {
  // As JSON, why the file cannot be checked goes into the object too; in
  // the compilers' form, onto a line of its own where the parser says.
  std::ostringstream said;
  std::ostream& complaints = options.json ? said : err;
  Unreadable why;
  const auto unreadable = [&] {
    if (options.json) {
      why.said = said.str();
      err << why.said;
      print_unreadable_json(out, file, why);
    } else if (options.gcc && why.at.line > 0) {
      out << visible(file) << ":" << why.at.line << ":" << why.at.column << ": error: " << visible(why.problem)
          << "\n";
    }
    return 2;
  };
  const std::unique_ptr<XmlTree> tree = readable(file, complaints, &why);
  if (!tree) return unreadable();
  const OfflineConfig config(file);
  if (!config.ok()) {
    complaints << "arctl: " << visible(file) << " cannot be opened as a configuration\n";
    why = Unreadable();
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
    print_json(out, file, status, options.strict, config, *tree, report, not_appliance);
  } else if (options.gcc) {
    print_gcc(out, file, config, *tree, report, not_appliance);
  } else {
    print_text(out, config, report, not_appliance);
  }
  return status;
}

const Command kCheckCommand = {
    "check",
    "[--strict[=all]] [--json | --format=gcc] [FILE]",
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
    "  --json        one JSON object instead, for programs (see arctl(8));\n"
    "                each finding holds the file, line and column of its element\n"
    "  --format=gcc  each finding as compilers write one, for a CI to annotate:\n"
    "                FILE:LINE:COLUMN: error: PATH: what is wrong\n"
    "                (the line and column where the element starts, or the\n"
    "                element that lacks a missing one; the warnings that only\n"
    "                say this is not the appliance end in [not-appliance])\n"
    "\n"
    "Exit status: 0 no error, 1 errors found (or warnings, with --strict),\n"
    "2 FILE cannot be read or parsed or is not a regular file (a FIFO or a\n"
    "device is refused at once).\n",
    kOptionStrict | kOptionJson | kOptionFormat,
    0,
    1,
    run_check,
};
