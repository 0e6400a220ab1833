// The parts of an AutoResponse that are formed or made when asked.
#include "model/autoresponse.h"

#include <cstdio>
#include <cstring>

RulePath::RulePath(uint32_t index) {
  static_assert(sizeof text_ > sizeof "config.autoresponse.autoresponse4294967295");
  const int n = std::snprintf(text_, sizeof text_, "%s%u", kRulePathPrefix, static_cast<unsigned>(index));
  size_ = static_cast<uint8_t>(n);
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
