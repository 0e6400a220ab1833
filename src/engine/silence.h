// Silences: for a while, the references of a rule (one, or every one) are
// evaluated and change state as usual, but none of the rule's actions is
// queued. The engine keeps them by rule path (Engine::silences) and writes
// them into the rule's kept record, so that they outlive reloads that build
// the rule again and restarts; they end at their time, when lifted, or with
// the rule (or reference) a load no longer has. Each start and end is
// logged at priority 600.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "engine/control_text.h"
#include "engine/engine.h"
#include "engine/restart.h"

struct ArCheck;

// The silence that covered check at when_ms (no later than now), its own
// or its whole rule's; null for none. One whose time had come by then
// covers nothing; at start, those that ended while the daemon was down
// still answer for what fell due meanwhile, until the start ends them.
const Silence* silence_covering(Engine& engine, const ArCheck& check, int64_t when_ms);

// Silences reference ref (0: every reference) of the rule any_check_of_rule
// belongs to for seconds from now. Empty when done; otherwise why it is
// refused, and nothing changed: out of the bounds (engine/control_text.h),
// a reference the rule does not have, or one silenced already (a silence
// of every reference counts as one on each, so it is refused while any
// reference has one, and the other way round).
std::string silence_add(Engine& engine, ArCheck* any_check_of_rule, uint32_t ref, int64_t seconds,
                        const std::string& origin, const std::string& reason);

// Ends the silence of reference ref, or every silence of the rule for 0,
// lifted by origin. Empty when done; otherwise why nothing ended.
std::string silence_lift(Engine& engine, ArCheck* any_check_of_rule, uint32_t ref, const std::string& origin);

// Ends each silence whose time has come; from the tick.
void silences_expire(Engine& engine);

// After a reload: ends each silence whose rule, or whose reference, the
// engine's load no longer has.
void silences_follow_load(Engine& engine);

// At start: the silences of the rules of checks from their restart
// records, whatever configuration the records were written for, in place
// of any the engine held; those of references the load does not have, or
// beyond one per reference are not taken up, and none lasts longer than
// kMaxSilenceSeconds from now. Those that ended while the daemon was down
// are taken up too, for what fell due meanwhile (silence_covering), and
// end at the first silences_expire.
void silences_take_up(Engine& engine, const ArCheckList& checks, const RestartState& records);

// When a silence ends, as local time "2024-05-01 14:03:07".
std::string silence_until_text(Engine& engine, int64_t until_ms);
