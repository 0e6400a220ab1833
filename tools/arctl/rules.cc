// The rules of the configuration, for the infod commands.
#include "arctl/rules.h"

#include "arctl/config_tree.h"
#include "arctl/text.h"

std::unique_ptr<OfflineConfig> load_rules(std::ostream& err) {
  const std::string file = default_config_file();
  auto config = std::make_unique<OfflineConfig>(file);
  if (config->ok()) return config;
  err << "arctl: cannot read the configuration " << visible(file) << " ('arctl check' tells why)\n";
  return nullptr;
}

std::string state_key(const OfflineRule& rule, uint32_t reference) {
  return rule.path + ".refs.ref" + std::to_string(reference) + ".status";
}

std::string value_key(const OfflineRule& rule, uint32_t reference) {
  return rule.path + ".refs.ref" + std::to_string(reference) + ".curr_entry.status";
}
