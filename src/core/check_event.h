// CheckEvent: one infod update routed to one ArCheck, and the step that
// queues it on the ArCheck and runs the ArCheck's check.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct ArCheck;

struct CheckEvent {
  std::string key;      // the update's whole key
  uint64_t field4 = 0;  // time of the update, milliseconds since the epoch
  int32_t field3 = 0;   // carried along, never interpreted
  std::string value;    // the update's value, RS bytes included
};

using CheckEventPtr = std::unique_ptr<CheckEvent>;

// Queues a copy of the update on check's pending queue and runs the check's
// on_event, returning its result. A check that is neither Normal nor
// Triggered takes nothing and 0 is returned. -1 with "Could not allocate
// entry" when memory runs out.
int check_append_event(ArCheck* check, const char* key, int32_t field3, uint64_t field4,
                       const char* value);

// Takes the oldest event off check's pending queue; null when it is empty.
CheckEventPtr check_take_event(ArCheck* check);
