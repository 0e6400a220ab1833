// Dispatch: a value update goes to every ArCheck that subscribed to its
// key and through each one's check; a load's references are taken in
// (routed, subscribed, Normal) and let go.
#pragma once

#include <cstdint>
#include <deque>

struct ArCheck;
struct Engine;

// Hands one update to every ArCheck that takes its key, in load order.
// Non-zero when one could not be applied (fatal).
int engine_deliver(Engine& engine, const char* key, int32_t number, uint64_t time_ms, const char* value);

// Hands one update to check: a check that is neither Normal nor Triggered
// takes nothing (0); otherwise its check module evaluates the update and
// ar_apply applies the outcome. -1 with "Could not allocate entry" when
// memory runs out, or when the outcome could not be applied.
int check_append_event(Engine& engine, ArCheck* check, const char* key, int32_t number, uint64_t time_ms,
                       const char* value);

// Makes checks the engine's references: the queue's entries and the
// routing index follow them, and each one in order is subscribed
// ("Adding subscription: %s") and moved to Normal.
void engine_adopt(Engine& engine, std::deque<ArCheck>* checks);

// Lets the engine's references go: the index is emptied and each key
// unsubscribed. Queued and running actions stay.
void engine_release(Engine& engine);
