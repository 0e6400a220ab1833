// Routed data usage: the readings list of one interface and the two window
// tests over it, apart from the check module so they can be fed directly.
#pragma once

#include <cstdint>
#include <vector>

// One traffic reading, "time:bytes".
struct Reading {
  uint32_t time = 0;   // in the unit of the rule's windows
  uint32_t bytes = 0;
};

// Reads one element. The time is the leading integer of the text before the
// first ':' taken modulo 2^32, so ages stay right wherever the clock
// started. The byte count is the leading integer after the ':', negative
// counts reading as 0 and counts beyond 32 bits as 4294967295. A field
// that is missing or holds no number reads as 0.
Reading routed_parse_reading(const char* text);

// Splits a readings list (oldest first) with construct_array and parses
// every element into out. False when the list cannot be split or holds no
// reading; out is then empty.
bool routed_parse_readings(const char* value, std::vector<Reading>* out);

// The trigger test: the newest reading plus the older ones whose age is at
// most window reach limit, counting at least two readings. Ages are
// unsigned 32-bit differences from the newest time; sums do not wrap.
bool routed_triggers(const std::vector<Reading>& readings, uint32_t limit, uint32_t window);

// The resolve test: summing from the newest back to and including the first
// reading whose age is resolve_window or more, the sum is at most limit.
// False (stay triggered) when no reading reaches back that far.
bool routed_resolves(const std::vector<Reading>& readings, uint32_t limit, uint32_t resolve_window);
