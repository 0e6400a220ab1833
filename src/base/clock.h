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
  // Milliseconds on a clock that never steps: delays, repeats and
  // time-outs are measured from their own instant to the millisecond.
  virtual int64_t monotonic_ms() = 0;
  // Milliseconds since the epoch.
  virtual int64_t wall_ms() = 0;
  // Whole seconds since the epoch.
  time_t wall_seconds() { return static_cast<time_t>(floor_div(wall_ms(), 1000)); }

  // a / b rounded down, for times before the epoch too.
  static int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }
};

class SystemClock final : public Clock {
 public:
  int64_t monotonic_ms() override;
  int64_t wall_ms() override;
};
