// Dispatch: what the link hands over. A complete update is either a
// control command or a value update, which goes to every ArCheck that
// subscribed to its key and through each one's check.
#pragma once

#include <cstdint>

struct ArCheck;
struct DaemonContext;

// The link's message handler (owner is the DaemonContext): splits body
// and carries it out. 0 handled or ignored, non-zero failed (fatal).
int dispatch_message(void* owner, char* body);

// Hands one update to check: a check that is neither Normal nor Triggered
// takes nothing (0); otherwise its check module evaluates the update and
// ar_apply applies the outcome. -1 with "Could not allocate entry" when
// memory runs out, or when the outcome could not be applied.
int check_append_event(ArCheck* check, const char* key, int32_t number, uint64_t time_ms, const char* value);
