// The parts of an AutoResponse that are formed or made when asked.
#include "model/autoresponse.h"

#include <cstring>

// Formed for nearly every read of a rule's settings: by hand, not through
// a formatted print.
RulePath::RulePath(uint32_t index) {
  static constexpr std::string_view kPrefix = kRulePathPrefix;
  static_assert(sizeof text_ > kPrefix.size() + 10);
  std::memcpy(text_, kPrefix.data(), kPrefix.size());
  char digits[10];
  size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + index % 10);
    index /= 10;
  } while (index != 0);
  size_t at = kPrefix.size();
  while (n > 0) text_[at++] = digits[--n];
  text_[at] = '\0';
  size_ = static_cast<uint8_t>(at);
}

namespace {

const RuleHolds kNoHolds;

}  // namespace

const std::vector<std::string>& AutoResponse::hold_names() const {
  return hold_links ? hold_links->names : kNoHolds.names;
}

const std::vector<uint32_t>& AutoResponse::holds() const { return hold_links ? hold_links->holds : kNoHolds.holds; }

const std::vector<uint32_t>& AutoResponse::held() const { return hold_links ? hold_links->held : kNoHolds.held; }

RuleHolds& AutoResponse::links() {
  if (!hold_links) hold_links = std::make_unique<RuleHolds>();
  return *hold_links;
}
