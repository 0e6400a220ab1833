// The keys of a rule's references.
#include "model/ref_key.h"

std::string reference_key(const std::string& rule_path, uint32_t reference, const char* suffix) {
  std::string key = rule_path;
  key += kRefsInfix;
  key += std::to_string(reference);
  key += suffix;
  return key;
}

std::string reference_state_key(const std::string& rule_path, uint32_t reference) {
  return reference_key(rule_path, reference, kStatusLeaf);
}

std::string reference_value_key(const std::string& rule_path, uint32_t reference) {
  return reference_key(rule_path, reference, kCurrEntry) + kStatusLeaf;
}
