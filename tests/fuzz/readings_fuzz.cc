// fuzz-seconds: 30
// libFuzzer target: arbitrary routed-data readings lists through the parser
// and both window tests, and arbitrary cellular alert texts through their
// parsing. The first twelve bytes choose the limit and the two windows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checks/celldata.h"
#include "checks/routeddata.h"

namespace {

uint32_t take_u32(const uint8_t* data) {
  uint32_t v;
  memcpy(&v, data, sizeof v);
  return v;
}

// The window tests can only succeed on sums they could have formed.
void check_windows(const std::vector<Reading>& readings, uint32_t limit, uint32_t window, uint32_t resolve_window) {
  uint64_t total = 0;
  for (const Reading& r : readings) total += r.bytes;
  const bool triggers = routed_triggers(readings, limit, window);
  const bool resolves = routed_resolves(readings, limit, resolve_window);
  if ((triggers || resolves) && readings.size() < 2) std::abort();
  if (triggers && total < limit) std::abort();
  // Every reading of age 0 lies inside any window: the trigger test then
  // sees the whole sum and must agree with it.
  bool all_same_time = true;
  for (const Reading& r : readings) all_same_time = all_same_time && r.time == readings.back().time;
  if (all_same_time && readings.size() >= 2 && triggers != (total >= limit)) std::abort();
  if (all_same_time && resolve_window > 0 && resolves) std::abort();
}

void check_alert(const std::string& alert) {
  const auto bytes = celldata_alert_bytes(alert);
  if (bytes.has_value() != (alert.find(':') != std::string::npos)) std::abort();
  if (bytes && (bytes->find(':') != std::string::npos || alert.find(*bytes) == std::string::npos)) std::abort();
  celldata_says_trigger(alert);
  celldata_says_resolve(alert);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  const uint32_t limit = take_u32(data);
  const uint32_t window = take_u32(data + 4);
  const uint32_t resolve_window = take_u32(data + 8);
  const std::string text(reinterpret_cast<const char*>(data + 12), size - 12);  // NUL-terminated copy

  std::vector<Reading> readings;
  const bool parsed = routed_parse_readings(text.c_str(), &readings);
  if (parsed == readings.empty()) std::abort();
  check_windows(readings, limit, window, resolve_window);
  routed_parse_reading(text.c_str());

  check_alert(text);
  return 0;
}
