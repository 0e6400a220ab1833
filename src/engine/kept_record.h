// What the daemon keeps in infod of one rule so that a restart resumes it:
// the state of each reference, its action statuses, the update it is in its
// state for, and when what it waits for falls due, together with a
// fingerprint of the configuration it belongs to. A record that does not
// match the rule as loaded (another fingerprint, another number of actions)
// is not guessed at: the rule starts afresh.
//
// The text is one line: "1 FINGERPRINT" and, for each reference,
// ";" followed by "REF STATE SINCE STATUSES" and optional fields
// "e=KEY,NUMBER,TIME,VALUE" (the update), "d=ACTION@DUE,NAME" (a delayed
// trigger action still waiting, one each), "r=DUE" (the next repeat) and
// "t=END" (the end of Timeout); then for each silence ";s REF UNTIL ORIGIN
// REASON". Times are milliseconds since the epoch,
// STATE the state's number, STATUSES the action statuses in list order as
// runs of a letter (n new, p pending, q queued, d dropped) with a count
// when above one ("-" for none). Texts are percent-escaped (base/escape.h).
// Anything that parses otherwise is not a record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/archeck.h"

// The key of rule number n's record, and of the queue's.
std::string kept_rule_key(uint32_t rule_number);

struct KeptEvent {
  std::string key;
  int32_t number = 0;
  uint64_t time_ms = 0;
  std::string value;
};

// A delayed trigger action still waiting: its place in the trigger list,
// when it falls due and its name (for people; the daemon derives the time).
struct KeptDue {
  uint32_t action = 0;
  int64_t due_ms = 0;
  std::string name;
};

struct KeptReference {
  uint32_t ref = 0;
  ArCheckState state = kArNormal;
  int64_t since_ms = 0;  // when it entered its state (or its repeat period began)
  std::vector<ActionStatus> statuses;
  std::optional<KeptEvent> event;
  std::vector<KeptDue> delayed;
  int64_t repeat_ms = 0;       // the next repeat; 0 for none
  int64_t timeout_end_ms = 0;  // the end of Timeout; 0 when not in Timeout
};

// A silence of the rule's references (ref 0: every one) until a time:
// evaluated as usual, but no action of the rule is queued. It belongs to
// the rule's path, not to its configuration: a record whose fingerprint
// no longer fits still lends its silences.
struct KeptSilence {
  uint32_t ref = 0;
  int64_t until_ms = 0;
  std::string origin;
  std::string reason;
};

struct KeptRule {
  uint64_t fingerprint = 0;
  std::vector<KeptReference> refs;
  std::vector<KeptSilence> silences;
};

// The record's text.
std::string kept_rule_format(const KeptRule& rule);

// Reads a record; false (and *rule unspecified) when the text is not one.
bool kept_rule_parse(std::string_view text, KeptRule* rule);
