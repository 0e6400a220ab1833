// What the engine keeps in infod of each rule, so that a restart resumes
// it instead of starting it afresh: the kept record (engine/kept_record.h)
// of every rule whose references changed anything but their current value
// is written when the work that changed it ends, and read back at start.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

struct ArCheck;
struct AutoResponse;
struct Engine;
struct KeptRule;

// The most a kept text may hold: it travels as a push, whose frame infod
// takes up to a mebibyte, with room for the key and the other fields.
constexpr size_t kMaxKeptText = 1024 * 1024 - 4096;

// What infod held under each rule's kept key at start, by rule number (a
// rule without a record is absent).
using KeptTexts = std::map<uint32_t, std::string>;

// The fingerprint a rule's record carries: the rule's element, config.cms
// and the keys of its references, so that a record is taken up only by
// the very rule it was written for.
uint64_t kept_fingerprint(const Engine& engine, const ArCheck& any_check_of_rule);

// Notes that a reference changed something its rule's record holds; the
// record is written by engine_write_kept.
void kept_touch(Engine& engine, ArCheck* check);

// Writes the record of every rule touched since the last call (a record
// too large for a frame is written as "-" and logged: that rule starts
// afresh after a restart), unless held shows infod has that very text
// already. Called as each piece of the engine's work ends.
void engine_write_kept(Engine& engine, const KeptTexts* held = nullptr);

// The record of the rule check belongs to, as it stands.
KeptRule kept_record_of(Engine& engine, const ArCheck& any_check_of_rule);

// Takes up the rule's record for check when it was written for this very
// rule and holds this reference: its state, statuses, update and the time
// it entered its state, the monotonic clock reset by the wall clock's
// distance. False (check untouched) otherwise.
bool kept_resume(Engine& engine, ArCheck* check, const KeptRule& record);
