// What the action queue keeps of each action it holds, so that a restart
// queues again what had not started and does not run again what had. A
// record names no program: it says which action of which rule and
// reference it is, and the update and time it was queued for, and a
// restart builds the command again from the configuration in force, only
// when the rule is still the one it was queued for.
//
// Record "action.ORDER" is "1 RULE FINGERPRINT REF LIST ACTION CYCLE
// QUEUED RULE_NAME ACTION_NAME" and optionally " e=KEY,NUMBER,TIME,VALUE"
// (the update), separated by blanks: ORDER the place in the order actions
// were queued, RULE the rule's number, FINGERPRINT its restart fingerprint
// (engine/restart.h), REF the reference, LIST 0 for the trigger and 1 for
// the resolve list, ACTION the place in that list, CYCLE the reference's
// cycle it was queued in, QUEUED the wall time in milliseconds; texts are
// percent-escaped. An empty record "run.ORDER" beside it says the action
// has started: it is written before its program starts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/check_event.h"

// The queue never holds more actions than this.
constexpr uint32_t kQueueRecords = 101;

struct QueueRecord {
  uint32_t rule = 0;
  uint64_t fingerprint = 0;
  uint32_t ref = 0;
  uint32_t list = 0;
  uint32_t action = 0;
  uint32_t cycle = 0;
  int64_t queued_ms = 0;
  std::string rule_name;
  std::string action_name;
  std::optional<CheckEvent> event;
};

// The record names of the action queued order-th, and of its start.
std::string queue_record_name(uint64_t order);
std::string queue_start_name(uint64_t order);
// The order a record's name gives, for either name; false for another
// name. *started says which.
bool queue_record_order(std::string_view name, uint64_t* order, bool* started);

std::string queue_record_format(const QueueRecord& record);

// Reads a record; false when the text is not one.
bool queue_record_parse(std::string_view text, QueueRecord* record);
