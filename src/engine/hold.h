// Holds: while any reference of a rule that a rule holds while (its
// hold_while, config/hold_while.h) is Triggered or Resolving, the holding
// rule's references are evaluated and change state as usual, but each of
// their actions that falls due is held back, as a silence holds it
// ("Held action %s for AR %s: while %s is Triggered"); once no rule it
// holds while is Triggered or Resolving, what was held is settled as at the
// end of a silence. A hold and a silence may cover the same reference: its
// actions run only when neither does.
#pragma once

struct ArCheck;
struct AutoResponse;
struct Engine;

// The rule that holds check back now; null for none.
const AutoResponse* hold_covering(Engine& engine, const ArCheck& check);

// Whether a reference of rule is Triggered or Resolving.
bool rule_holding(Engine& engine, const AutoResponse& rule);

// After a load: which rules hold and are held, for holds_settle.
void holds_track(Engine& engine);

// At the end of each piece of the engine's work: each rule whose
// references have all left Triggered and Resolving since the last call has
// what it held of the rules that hold while it settled. After a load or a
// start (all true): what is held of every rule that holds while another is
// judged again from the states of the rules it names.
void holds_settle(Engine& engine, bool all = false);
