// The system's clocks.
#include "base/clock.h"

namespace {

int64_t ms_of(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int64_t SystemClock::monotonic_ms() { return ms_of(CLOCK_MONOTONIC); }

int64_t SystemClock::wall_ms() { return ms_of(CLOCK_REALTIME); }
