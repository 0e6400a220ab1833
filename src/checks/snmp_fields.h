// The texts the SNMP alert arguments are made of: the event time as a
// DateAndTime in hexadecimal, the field splitter of the login alerts and
// the fields of a web or CLI login value, the serial port number of a
// device reference and a reading as a clamped integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Length of every DateAndTime text: the 11 octets in hexadecimal.
constexpr size_t kDateAndTimeLength = 22;

// The 11 octets of an SNMP DateAndTime for a time in milliseconds since the
// epoch, as 22 lower-case hexadecimal digits: year (two octets), month,
// day, hour, minutes, seconds, deciseconds, '+' or '-', offset hours and
// minutes. Local time and the offset in force at that time come from the C
// library (TZ, else the zone file); a year beyond 65535 is written as
// 65535, so the text keeps its 22 digits.
std::string snmp_date_and_time(uint64_t milliseconds);

// A text being split into fields, with the position where the next
// split_fields call goes on. The web login parser reads and moves it.
struct FieldCursor {
  explicit FieldCursor(std::string t) : text(std::move(t)) {}
  std::string text;
  size_t position = 0;
};

// The next field from the cursor's position, strtok-style: characters of
// delimiters are skipped, the field runs up to the next one (or the end)
// and the position moves past that delimiter. Empty fields are skipped;
// nullopt when nothing but delimiters is left. With no delimiters the field
// is the whole rest of the text (nullopt when that is empty).
std::optional<std::string> split_fields(FieldCursor* cursor, std::string_view delimiters);

// The fields of a web login value, absent ones already replaced.
struct WebLoginFields {
  std::string event;    // "LOGIN", "LOGOUT", "AUTH ERROR"; "UNKNOWN" when absent
  std::string user;     // "unknown" when absent
  std::string address;  // a bracketed address keeps its colons; "unknown" when absent
  std::string detail;   // "" when absent
};

// Splits a web login value ("EVENT: user:address:detail") at colons.
WebLoginFields parse_web_login(const std::string& value);

// The fields of a CLI login value. The service and the program have no
// stand-ins: the filter has to tell an absent one from any text.
struct CliLoginFields {
  std::string event;                   // "UNKNOWN" when absent
  std::string user;                    // "unknown" when absent
  std::optional<std::string> service;  // field 3
  std::optional<std::string> program;  // field 4
  std::string rest;                    // field 5, colons and all; "" when absent
};

// Splits a CLI login value ("EVENT: user:service:program:rest") at colons.
CliLoginFields parse_cli_login(const std::string& value);

// The serial port number of a reference "config.ports.port<n>...": 0 when
// the reference has another form or the number does not fit in 32 bits.
int32_t snmp_port_number(std::string_view dev_ref);

// A reading as a whole number: parsed as a float and truncated toward zero,
// clamped to the 32-bit range; NaN and text without a number give 0.
int32_t snmp_value_int(const std::string& value);
