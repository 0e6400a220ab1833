// The system's clocks.
#include "base/clock.h"

int64_t SystemClock::monotonic_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

time_t SystemClock::wall_seconds() { return time(nullptr); }
