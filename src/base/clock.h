// The daemon's two clocks behind one seam: the monotonic clock measures
// delays, repeats and time-outs (an appliance without a real-time clock
// steps its wall clock at boot), the wall clock gives local time for
// disable windows and timestamps. Tests substitute their own.
#pragma once

#include <cstdint>
#include <ctime>

// Dates after January 2038 on the 32-bit appliance too (the build asks the
// C library for a 64-bit time_t there).
static_assert(sizeof(time_t) == 8, "time_t must have 64 bits");

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds on a clock that never steps.
  virtual int64_t monotonic_seconds() = 0;
  // Seconds since the epoch.
  virtual time_t wall_seconds() = 0;
};

class SystemClock final : public Clock {
 public:
  int64_t monotonic_seconds() override;
  time_t wall_seconds() override;
};
