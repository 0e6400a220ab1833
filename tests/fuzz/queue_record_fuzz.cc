// fuzz-seconds: 20
// libFuzzer target: any text a record of the state directory holds under an action's name, as a restart reads it.
// What parses is a record whose text, written again, reads back to the same text, and whose names and times stay
// within what the queue writes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "actions/queue_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  uint64_t order = 0;
  bool started = false;
  if (queue_record_order(text, &order, &started) &&
      (order == 0 || text != (started ? queue_start_name(order) : queue_record_name(order))))
    std::abort();  // a name the queue would not write
  QueueRecord record;
  if (!queue_record_parse(text, &record)) return 0;
  if (record.rule == 0 || record.ref == 0 || record.list > 1) std::abort();
  const std::string written = queue_record_format(record);
  QueueRecord again;
  if (written.find_first_of("\r\n") != std::string::npos || !queue_record_parse(written, &again) ||
      queue_record_format(again) != written)
    std::abort();
  return 0;
}
