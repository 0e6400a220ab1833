// The keys a rule's reference publishes under in infod, for the daemon that
// publishes them and for arctl that reads them: the rule's path,
// ".refs.ref" and the reference's number; below that ".status" is its state
// and ".curr_entry.status" its current value (infod's ".status" leaf, which
// the publisher adds to each of the two).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr const char* kRefsInfix = ".refs.ref";
constexpr const char* kCurrEntry = ".curr_entry";
constexpr const char* kStatusLeaf = ".status";

// PATH.refs.refN followed by suffix (".curr_entry", or nothing).
std::string reference_key(std::string_view rule_path, uint32_t reference, std::string_view suffix = "");
// PATH.refs.refN.status and PATH.refs.refN.curr_entry.status.
std::string reference_state_key(std::string_view rule_path, uint32_t reference);
std::string reference_value_key(std::string_view rule_path, uint32_t reference);
