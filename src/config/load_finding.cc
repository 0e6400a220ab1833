// Findings of the loader.
#include "config/load_finding.h"

#include <cstdarg>
#include <utility>

#include "base/log.h"

LoadFinding& load_finding_log(std::vector<LoadFinding>* findings, LoadFindingKind kind, uint32_t rule,
                              std::string path, int priority, const char* format, ...) {
  LoadFinding finding{kind, priority};
  finding.rule = rule;
  finding.path = std::move(path);
  va_list args;
  va_start(args, format);
  finding.text = ar_vlog_text(priority, format, args);
  va_end(args);
  findings->push_back(std::move(finding));
  return findings->back();
}
