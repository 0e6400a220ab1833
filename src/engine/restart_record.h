// The record of one rule that a restart takes up: the state of each
// reference, its action statuses and cycle, the update it is in its state
// for and since when, and the rule's silences, with a fingerprint of the
// configuration it belongs to. A record that does not match the rule as
// loaded (another fingerprint, another number of actions) is not guessed
// at: the rule starts afresh.
//
// It is written in two forms. The daemon's own, in its state directory
// (base/record_store.h), begins "2 FINGERPRINT BOOT WALL MONO": its times
// are on the monotonic clock of the boot whose id is BOOT, and WALL and
// MONO are the two clocks when it was written, so that after a reboot the
// times can be carried over by the wall clock. The form it publishes in
// infod for `arctl status` to show begins "1 FINGERPRINT", its times
// milliseconds since the epoch; the daemon never reads that one back.
//
// After the head, for each reference, ";" followed by "REF STATE SINCE
// STATUSES" and optional fields "c=CYCLE" (the file form's cycle of the
// statuses), "e=KEY,NUMBER,TIME,VALUE" (the update), "d=ACTION@DUE,NAME"
// (a delayed trigger action still waiting, one each), "r=DUE" (the next
// repeat), "t=END" (the end of Timeout), "x=1" (a trigger action of the
// current trigger was queued), "k=1" (a cancel began its Timeout),
// "o=N.N..." and "f=KEY,NUMBER,TIME,VALUE" (the resolve actions a silence
// holds back, and their update); in the shown form "y=HASH" (of the key
// the reference listens to, hexadecimal: an edit that keeps it carries
// the reference) and "w=END" (when the window of a Disabled one ends);
// then for each silence ";s REF UNTIL
// ORIGIN REASON". STATE is the state's number, STATUSES the action
// statuses in list order as runs of a letter (n new, p pending, q queued,
// d dropped, h held back) with a count when above one ("-" for none). Texts are
// percent-escaped (base/escape.h). Anything that parses otherwise, or
// holds a time beyond what any clock reads, is not a record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/archeck.h"
#include "model/check_event.h"

// The key under which the daemon shows rule number n's record in infod,
// and the name of the record in its state directory.
std::string shown_record_key(uint32_t rule_number);
std::string rule_record_name(uint32_t rule_number);

// Times in a record lie within this many milliseconds of the epoch (some
// 285,000 years): far beyond any clock, and far from overflowing sums.
constexpr int64_t kMaxRecordTime = int64_t{1} << 53;

// The two clocks when a file record was written, and the boot they ran in.
struct RecordClock {
  std::string boot;  // the kernel's boot id; "-" when unknown
  int64_t wall_ms = 0;
  int64_t monotonic_ms = 0;
};

// A delayed trigger action still waiting: its place in the trigger list,
// when it falls due and its name (for people; the daemon derives the time).
struct RestartDue {
  uint32_t action = 0;
  int64_t due_ms = 0;
  std::string name;
};

struct RestartReference {
  uint32_t ref = 0;
  ArCheckState state = kArNormal;
  int64_t since_ms = 0;  // when it entered its state (or its repeat period began)
  std::vector<ActionStatus> statuses;
  uint32_t cycle = 0;
  std::optional<CheckEvent> event;
  std::vector<RestartDue> delayed;
  int64_t repeat_ms = 0;       // the next repeat; 0 for none
  int64_t timeout_end_ms = 0;  // the end of Timeout; 0 when not in Timeout
  bool trigger_ran = false;
  bool cancelled = false;
  std::vector<uint32_t> held_resolve;  // places in the resolve list
  std::optional<CheckEvent> held_event;
  uint64_t key_hash = 0;       // shown only; 0 for none
  int64_t window_end_ms = 0;   // shown only; 0 for none
};

// A silence of the rule's references (ref 0: every one) until a time:
// evaluated as usual, but no action of the rule is queued. It belongs to
// the rule's path, not to its configuration: a record whose fingerprint
// no longer fits still lends its silences.
struct RestartSilence {
  uint32_t ref = 0;
  int64_t until_ms = 0;
  std::string origin;
  std::string reason;
};

struct RestartRule {
  uint64_t fingerprint = 0;
  std::optional<RecordClock> clock;  // set: the file form
  std::vector<RestartReference> refs;
  std::vector<RestartSilence> silences;
};

// The hash "y=" shows of a key: never 0.
uint64_t key_hash(std::string_view key);

// The record's text, in the form its clock says.
std::string restart_rule_format(const RestartRule& rule);

// Reads a record of either form; false (and *rule unspecified) when the
// text is not one.
bool restart_rule_parse(std::string_view text, RestartRule* rule);
