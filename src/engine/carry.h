// An edit that carries state: when a reload builds a rule again, each new
// reference of the same number whose key and check kind stay the same
// takes the state of the reference it replaces, so an incident outlives a
// fix of a message's text. Its action statuses follow their actions (the
// same list and number); an action already run for the current trigger is
// not run again, one the edit added waits as any other, and a delayed one
// falls due at its own delay from the trigger.
#pragma once

#include <vector>

struct ArCheck;
struct LoadedConfig;

struct Carry {
  ArCheck* from;  // of the previous load
  ArCheck* to;    // of the new one, not yet adopted
};

// The references of config, not yet adopted, that take the state of one
// of previous, in config's order.
std::vector<Carry> carry_plan(LoadedConfig& previous, LoadedConfig& config);

// Moves each one's state, statuses, update and what a silence holds back
// to its new reference; the old one is left with none (kArNone), so that
// letting it go accounts for nothing it did not lose.
void carry_out(const std::vector<Carry>& plan);
