// Updates handed to the references that take them: a value update goes to
// every ArCheck that subscribed to its key and through each one's check; a
// reply to a get goes to the references that asked for it.
#pragma once

#include <cstdint>

struct ArCheck;
struct Engine;

// Hands one update to every ArCheck that takes its key, in load order; an
// update of the control key is a control command (engine/control.h).
// Non-zero when one could not be applied (fatal).
int engine_deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value);

// A reply of infod's to a get: value null when it holds none
// (engine/level_read.h). Non-zero when it could not be applied (fatal).
int engine_reply(Engine& engine, const char* key, const char* value);

// Hands one update to check: a check that is neither Normal nor Triggered
// takes nothing (0; a level's reference keeps it as its latest value);
// otherwise its check module evaluates the update and
// reference_apply applies the outcome. -1 with "Could not allocate entry" when
// memory runs out, or when the outcome could not be applied.
int check_append_event(Engine& engine, ArCheck* check, const char* key, int32_t number, uint64_t time_ms,
                       const char* value);
