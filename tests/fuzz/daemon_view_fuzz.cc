// fuzz-seconds: 20
// libFuzzer target: any text infod holds under the daemon's status keys, as arctl reads its loaded list, queue,
// bursts and latest updates, each entry by itself. An entry read as a burst or a latest update writes back as
// the same fields.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "arctl/daemon_view.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  for (std::string entry; std::getline(in, entry, ';');) {
    parse_loaded_rule(entry);
    parse_queue_entry(entry);
    if (const auto hold = parse_hold_entry(entry)) {
      for (const std::string& name : hold->actions) {
        if (name.find_first_of(" ;") != std::string::npos && entry.find('%') == std::string::npos) std::abort();
      }
    }
    if (const auto f = parse_finished_entry(entry)) {
      if (f->rule_path.empty() || f->rule_path.find(' ') != std::string::npos) std::abort();
    }
    if (const auto burst = parse_burst_entry(entry)) {
      const std::string again = std::to_string(burst->rule) + " " + std::to_string(burst->ref) + " " +
                                std::to_string(burst->count) + " " + std::to_string(burst->oldest_ms);
      const auto back = parse_burst_entry(again);
      if (!back || back->rule != burst->rule || back->ref != burst->ref || back->count != burst->count ||
          back->oldest_ms != burst->oldest_ms)
        std::abort();
    }
  }
  if (const auto latest = parse_latest_update(text)) {
    if (latest->first < 0 || latest->second != text.substr(text.find(' ') + 1)) std::abort();
  }
  return 0;
}
