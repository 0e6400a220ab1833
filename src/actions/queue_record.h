// What the action queue keeps in infod of each action it holds, so that a
// restart queues again what had not started and does not run again what
// had: one key per place in the queue, the action's whole command and
// whether it was running. "-" marks a free place.
//
// The text is "1 STATE ORDER TAG" then the percent-escaped fields rule
// path, action path, action name, rule name, program, then the number of
// arguments and each, then the number of environment entries and each, all
// separated by blanks. STATE is "w" (waiting) or "r" (running), ORDER the
// place in the order the actions were queued.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct QueuedAction;

// The places: the queue never holds more actions than these.
constexpr uint32_t kQueueRecords = 101;

// The most a record may hold: it travels as a push, whose frame infod takes
// up to a mebibyte, with room for the key.
constexpr size_t kMaxQueueRecordText = 1024 * 1024 - 4096;

// The key of place n (1 to kQueueRecords).
std::string queue_record_key(uint32_t n);

std::string queue_record_format(const QueuedAction& qa, uint64_t order);

// Reads a record into qa (its command, names, tag and state) and *order;
// false when the text is not one.
bool queue_record_parse(std::string_view text, QueuedAction* qa, uint64_t* order);
