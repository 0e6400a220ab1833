// fuzz-seconds: 30
// libFuzzer target: arbitrary routed-data readings lists through the parser and both window tests, and
// arbitrary cellular alert texts through their parsing. The first twelve bytes choose the limit and the two
// windows.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "checks/celldata.h"
#include "checks/routeddata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t limit, window, resolve_window;
  if (size < 12) return 0;
  memcpy(&limit, data, 4);
  memcpy(&window, data + 4, 4);
  memcpy(&resolve_window, data + 8, 4);
  const std::string text(reinterpret_cast<const char*>(data + 12), size - 12);  // NUL-terminated copy

  std::vector<Reading> r;
  if (routed_parse_readings(text.c_str(), &r) == r.empty()) abort();
  uint64_t total = 0;
  bool same_time = true;  // every reading of age 0: inside any window
  for (const Reading& one : r) {
    total += one.bytes;
    same_time = same_time && one.time == r.back().time;
  }
  const bool triggers = routed_triggers(r, limit, window), resolves = routed_resolves(r, limit, resolve_window);
  // The tests succeed only on sums they could form, and see the whole sum when all are newest.
  if ((triggers || resolves) && r.size() < 2) abort();
  if (triggers && total < limit) abort();
  if (same_time && r.size() >= 2 && triggers != (total >= limit)) abort();
  if (same_time && resolve_window > 0 && resolves) abort();

  const auto bytes = celldata_alert_bytes(text);
  if (bytes.has_value() != (text.find(':') != std::string::npos)) abort();
  if (bytes && (bytes->find(':') != std::string::npos || text.find(*bytes) == std::string::npos)) abort();
  routed_parse_reading(text.c_str());
  celldata_says_trigger(text);
  celldata_says_resolve(text);
  return 0;
}
