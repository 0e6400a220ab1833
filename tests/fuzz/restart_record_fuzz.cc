// fuzz-seconds: 30
// libFuzzer target: any text infod holds under a kept key, as a restart reads it. What parses is a record whose
// text, written again, reads back to the same text: nothing is half read, and no text written carries a line end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/restart_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  RestartRule rule;
  if (!restart_rule_parse(text, &rule)) return 0;
  const std::string written = restart_rule_format(rule);
  RestartRule again;
  if (written.find_first_of("\r\n") != std::string::npos || !restart_rule_parse(written, &again) ||
      restart_rule_format(again) != written)
    std::abort();
  return 0;
}
