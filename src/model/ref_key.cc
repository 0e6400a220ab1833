// The keys of a rule's references.
#include "model/ref_key.h"

#include <charconv>

std::string reference_key(std::string_view rule_path, uint32_t reference, std::string_view suffix) {
  // Made at every update a reference publishes: in one block, sized once.
  char number[10];
  char* end = std::to_chars(number, number + sizeof number, reference).ptr;
  const std::string_view infix = kRefsInfix;
  std::string key;
  key.reserve(rule_path.size() + infix.size() + static_cast<size_t>(end - number) + suffix.size());
  key.append(rule_path).append(infix).append(number, static_cast<size_t>(end - number)).append(suffix);
  return key;
}

std::string reference_state_key(std::string_view rule_path, uint32_t reference) {
  return reference_key(rule_path, reference, kStatusLeaf);
}

std::string reference_value_key(std::string_view rule_path, uint32_t reference) {
  std::string suffix = kCurrEntry;
  suffix += kStatusLeaf;
  return reference_key(rule_path, reference, suffix);
}
