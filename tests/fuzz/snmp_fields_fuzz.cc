// fuzz-seconds: 30
// libFuzzer target: the splitter and login parsers on any bytes, DateAndTime for any time. Fields are non-
// empty runs of the text without delimiters or stand-ins, the splitter moves forward, and a DateAndTime has
// 22 lower-case hex digits.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "checks/snmp_fields.h"

static void check(bool ok) { if (!ok) std::abort(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string delimiters = bytes.substr(1, data[0] % 4);  // the first byte picks the set's size
  FieldCursor cursor(bytes.substr(1 + delimiters.size()));
  for (size_t last = 0; const auto field = split_fields(&cursor, delimiters); last = cursor.position) {
    check(!field->empty() && field->find_first_of(delimiters) == std::string::npos);
    check(cursor.position > last && cursor.position <= cursor.text.size());
    const size_t at = cursor.text.find(*field, last);
    check(at != std::string::npos && at + field->size() <= cursor.position);
  }
  check(cursor.position == cursor.text.size());
  const WebLoginFields web = parse_web_login(bytes);
  for (const std::string& f : {web.event, web.user, web.address, web.detail})
    check(f == "UNKNOWN" || f == "unknown" || bytes.find(f) != std::string::npos);
  const CliLoginFields cli = parse_cli_login(bytes);
  for (const std::string& f : {cli.event, cli.user, cli.service.value_or(""), cli.program.value_or(""), cli.rest})
    check(f == "UNKNOWN" || f == "unknown" || bytes.find(f) != std::string::npos);
  snmp_port_number("config.ports.port" + bytes);
  snmp_value_int(bytes);
  if (size < 9) return 0;
  static const char* const kZones[] = {"UTC0", "<+14>-14", "NST3:30NDT,M3.2.0,M11.1.0", "<-12>12"};
  uint64_t ms = 0;
  std::memcpy(&ms, data + 1, sizeof ms);
  setenv("TZ", kZones[data[0] % 4], 1);
  const std::string date = snmp_date_and_time(ms);
  check(date.size() == kDateAndTimeLength && date.find_first_not_of("0123456789abcdef") == std::string::npos);
  return 0;
}
