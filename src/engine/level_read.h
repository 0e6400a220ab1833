// Reads of levels: at start, and for each reference a load starts afresh,
// a reference of a level (model/check_kind.h) asks infod for its key's
// current value and judges it as an update, so that what is already true
// when the daemon starts, or an edit builds a rule again, acts at once. The
// reads go out after the reference's subscription, a bounded number at a
// time; a reply for which the reference took an update meanwhile is stale
// and dropped, and one with no value judges nothing.
#pragma once

#include <cstddef>
#include <cstdint>

struct ArCheck;
struct Engine;

// The most reads that wait for their replies at once.
constexpr size_t kMaxLevelReads = 32;
// A read unanswered this long is given up (checked at the tick).
constexpr int64_t kLevelReadWaitMs = 10000;

// Whether check's value is judged again when it comes back without an
// update: a level of a rule with a resolve stage (a rule that triggers on
// every change treats its level as events).
bool reference_is_level(const ArCheck& check);

// Queues a read of check's key, when check is a level's reference; the
// reads go out with level_reads_send.
void level_read_ask(Engine& engine, ArCheck* check);

// Sends what waits, up to kMaxLevelReads outstanding.
void level_reads_send(Engine& engine);

// A reply from infod: value null when it holds none. Judges it for each
// reference that asked for key and took no update since, then sends what
// waits. Non-zero when it could not be applied (fatal).
int level_read_reply(Engine& engine, const char* key, const char* value);

// From the tick: gives up reads unanswered for kLevelReadWaitMs.
void level_reads_expire(Engine& engine);
