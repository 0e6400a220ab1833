// `arctl check [FILE]`: loads a configuration with the daemon's own loader
// and check modules, offline, and reports what is wrong with it.
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

#include "arctl/arctl.h"
#include "arctl/config_tree.h"
#include "arctl/offline.h"
#include "arctl/rule_audit.h"
#include "arctl/text.h"
#include "checks/audit.h"
#include "platform/xml_tree.h"

namespace {

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

int run_check(Invocation& inv) {
  return check_configuration(inv.words.empty() ? default_config_file() : inv.words[0], inv.out, inv.err);
}

}  // namespace

int check_configuration(const std::string& file, std::ostream& out, std::ostream& err) {
  if (!readable(file, err)) return 2;
  const OfflineConfig config(file);
  if (!config.ok()) {
    err << "arctl: " << visible(file) << " cannot be opened as a configuration\n";
    return 2;
  }
  AuditReport report;
  audit_configuration(config, &report);
  for (const AuditFinding& f : report.findings()) {
    out << (f.level == AuditLevel::kError ? "error: " : "warning: ") << visible(f.path) << ": " << visible(f.text)
        << "\n";
  }
  const size_t errors = report.count(AuditLevel::kError);
  out << count(config.rules_loaded(), "rule") << ", " << count(config.references_loaded(), "reference") << ", "
      << count(config.actions_loaded(), "action") << " loaded; " << count(errors, "error") << ", "
      << count(report.count(AuditLevel::kWarning), "warning") << "\n";
  return errors > 0 ? 1 : 0;
}

const Command kCheckCommand = {
    "check",
    "[FILE]",
    "test a configuration before the daemon loads it",
    "Loads the rules of FILE with the daemon's own loader and check modules,\n"
    "without infod and without running anything, and prints one line per\n"
    "finding, then a summary:\n"
    "  error: PATH: what is wrong, and how to fix it\n"
    "  warning: PATH: what depends on this machine (devices, scripts)\n"
    "PATH is the dotted configuration path the finding concerns. FILE is by\n"
    "default $XMLDB_PATH, else /etc/config/config.xml.\n"
    "\n"
    "Exit status: 0 no error, 1 errors found, 2 FILE cannot be read or parsed\n"
    "or is not a regular file (a FIFO or a device is refused at once).\n",
    0,
    0,
    1,
    run_check,
};
