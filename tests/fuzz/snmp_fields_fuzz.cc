// fuzz-seconds: 30
// libFuzzer target: the field splitter and the web and CLI login parsers on
// arbitrary bytes, plus port numbers, readings and DateAndTime texts.
// Every field must be a non-empty run of the text without delimiters, the
// splitter must always move forward, and a DateAndTime has 22 hex digits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "actions/snmp_fields.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Splits text with a delimiter set until nothing is left.
void split_all(const std::string& text, const std::string& delimiters) {
  FieldCursor cursor(text);
  size_t last = 0;
  for (size_t calls = 0;; ++calls) {
    check(calls <= text.size() + 1);
    const std::optional<std::string> field = split_fields(&cursor, delimiters);
    check(cursor.position <= text.size());
    if (!field) {
      check(cursor.position == text.size());
      check(!split_fields(&cursor, delimiters));
      return;
    }
    check(!field->empty());
    check(field->find_first_of(delimiters) == std::string::npos);
    check(cursor.position > last);
    const size_t at = text.find(*field, last);
    check(at != std::string::npos && at + field->size() <= cursor.position);
    last = cursor.position;
  }
}

// A field of a login value: a stand-in or a run of the value.
void from_value(const std::string& value, const std::string& field, const char* stand_in) {
  check(field == stand_in || value.find(field) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // The first byte picks how many of the next bytes form the delimiter set.
  const size_t delimiter_count = std::min<size_t>(static_cast<uint8_t>(bytes[0]) % 4, size - 1);
  const std::string delimiters = bytes.substr(1, delimiter_count);
  const std::string text = bytes.substr(1 + delimiter_count);
  split_all(text, delimiters);
  split_all(bytes, ":");

  const WebLoginFields web = parse_web_login(bytes);
  from_value(bytes, web.event, "UNKNOWN");
  from_value(bytes, web.user, "unknown");
  from_value(bytes, web.address, "unknown");
  from_value(bytes, web.detail, "");

  const CliLoginFields cli = parse_cli_login(bytes);
  from_value(bytes, cli.event, "UNKNOWN");
  from_value(bytes, cli.user, "unknown");
  if (cli.service) from_value(bytes, *cli.service, "");
  if (cli.program) from_value(bytes, *cli.program, "");
  from_value(bytes, cli.rest, "");

  snmp_port_number("config.ports.port" + bytes);
  snmp_value_int(bytes);

  if (size >= 9) {
    static const char* const kZones[] = {"UTC0", "<+14>-14", "NST3:30NDT,M3.2.0,M11.1.0", "<-12>12"};
    uint64_t ms = 0;
    std::memcpy(&ms, data + 1, sizeof ms);
    setenv("TZ", kZones[data[0] % 4], 1);
    const std::string date = snmp_date_and_time(ms);
    check(date.size() == kDateAndTimeLength);
    check(date.find_first_not_of("0123456789abcdef") == std::string::npos);
  }
  return 0;
}
