// CheckEvent: one infod update as an ArCheck receives it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct CheckEvent {
  std::string key;       // the update's whole key
  uint64_t time_ms = 0;  // time of the update, milliseconds since the epoch
  int32_t number = 0;    // carried along, never interpreted
  std::string value;     // the update's value, RS bytes included
};

using CheckEventPtr = std::unique_ptr<CheckEvent>;
