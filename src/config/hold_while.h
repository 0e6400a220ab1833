// Holds between rules: a rule may name others under "hold_while"
// ("<hold_while><total>N</total><rule1>NAME</rule1>..."). While any
// reference of a rule it names is Triggered or Resolving, its own
// references act as under a silence (engine/hold.h). The names are read
// with the rule; which rules they are is decided anew after every load,
// since a rule kept whole may name one that the load built again or
// renamed.
#pragma once

#include <cstdint>
#include <string>

struct AutoResponse;
struct LoadedConfig;

// The settings under a rule's path.
constexpr const char* kHoldWhile = "hold_while";

// Reads the names ar holds while (hold_while.rule1 ... ruleN, at most
// kMaxHolds; an empty name is none) into ar->hold_names.
void read_hold_names(LoadedConfig* config, AutoResponse* ar);

// The most rules one rule holds while.
constexpr int32_t kMaxHolds = 64;

// Makes each rule's hold_names its holds, by rule number, and each rule's
// held list the reverse, refusing (with a log line and a finding at the
// name's path) a name no rule has or several share, a rule that names
// itself, and a name that closes a cycle of holds: the rule is loaded
// without that hold.
void resolve_holds(LoadedConfig* config);
