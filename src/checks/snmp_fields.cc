// The texts the SNMP alert arguments are made of: DateAndTime, the login
// field splitter and parsers, port numbers and clamped readings.
#include "checks/snmp_fields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/log.h"

namespace {

// A broken-down value as one octet; the C library keeps every field of a
// valid time in range, this only guards the width of the text.
unsigned octet(long value) {
  if (value < 0) return 0;
  if (value > 0xff) return 0xff;
  return static_cast<unsigned>(value);
}

// Field 2 of a login value: the user, without the one space that follows
// the event word's colon.
std::optional<std::string> user_field(FieldCursor* cursor) {
  std::optional<std::string> field = split_fields(cursor, ":");
  if (field && field->size() > 1 && (*field)[0] == ' ') field->erase(0, 1);
  return field;
}

}  // namespace

std::string snmp_date_and_time(uint64_t milliseconds) {
  const uint64_t seconds = milliseconds / 1000;
  const uint64_t rest = milliseconds % 1000;

  // Even the largest count of milliseconds gives seconds well inside the
  // 64-bit time_t that every target is built with (see core/clock.h).
  const time_t when = static_cast<time_t>(seconds);
  tzset();
  struct tm local {};
  if (localtime_r(&when, &local) == nullptr) local = tm{};

  // The offset in force at that local time, so a summer time and its
  // offset agree; seconds east of UTC.
  const long offset = local.tm_gmtoff;
  const char direction = offset < 0 ? '-' : '+';
  const long magnitude = offset < 0 ? -offset : offset;
  const long hours = magnitude / 3600;
  const long minutes = (magnitude - 3600 * hours) / 60;

  ar_log(kLogDebug, "year: %d 0x%04x", local.tm_year, static_cast<unsigned>(local.tm_year));
  ar_log(kLogDebug, "month: %d 0x%02x", local.tm_mon, static_cast<unsigned>(local.tm_mon));
  ar_log(kLogDebug, "day: %d 0x%02x", local.tm_mday, static_cast<unsigned>(local.tm_mday));
  ar_log(kLogDebug, "hour: %d 0x%02x", local.tm_hour, static_cast<unsigned>(local.tm_hour));
  ar_log(kLogDebug, "minutes: %d 0x%02x", local.tm_min, static_cast<unsigned>(local.tm_min));
  ar_log(kLogDebug, "seconds: %d 0x%02x", local.tm_sec, static_cast<unsigned>(local.tm_sec));

  // The year has two octets; a later year (millions of years ahead) is
  // written as the largest one rather than widening the text.
  const int64_t year = std::clamp<int64_t>(int64_t{local.tm_year} + 1900, 0, 0xffff);

  // Every value is clamped to its octets, so the text has exactly 22 digits;
  // the buffer is sized for any unsigned value all the same.
  char text[96];
  snprintf(text, sizeof text, "%04x%02x%02x%02x%02x%02x%02x%02x%02x%02x",
           static_cast<unsigned>(year), octet(local.tm_mon + 1L), octet(local.tm_mday), octet(local.tm_hour),
           octet(local.tm_min), octet(local.tm_sec), octet(static_cast<long>(rest / 100)),
           static_cast<unsigned>(direction), octet(hours), octet(minutes));
  return text;
}

std::optional<std::string> split_fields(FieldCursor* cursor, std::string_view delimiters) {
  const std::string& text = cursor->text;
  const size_t from = cursor->position < text.size() ? cursor->position : text.size();
  const size_t start = text.find_first_not_of(delimiters, from);
  if (start == std::string::npos) {
    cursor->position = text.size();
    return std::nullopt;
  }
  const size_t end = text.find_first_of(delimiters, start);
  if (end == std::string::npos) {
    cursor->position = text.size();
    return text.substr(start);
  }
  cursor->position = end + 1;
  return text.substr(start, end - start);
}

WebLoginFields parse_web_login(const std::string& value) {
  FieldCursor cursor(value);
  const std::optional<std::string> event = split_fields(&cursor, ":");
  const std::optional<std::string> user = user_field(&cursor);
  std::optional<std::string> address;
  std::optional<std::string> detail;

  const std::string& text = cursor.text;
  if (cursor.position < text.size() && text[cursor.position] == '[') {
    // A bracketed address holds colons of its own: the field runs from the
    // "[" to the first colon after the "]".
    const size_t open = cursor.position;
    const size_t close = text.find(']', open);
    if (close != std::string::npos) {
      cursor.position = close;
      const std::optional<std::string> tail = split_fields(&cursor, ":");  // begins at the "]"
      address = text.substr(open, close - open + (tail ? tail->size() : 0));
      detail = split_fields(&cursor, ":");
    } else {
      split_fields(&cursor, ":");  // an unclosed bracket: no address, no detail
    }
  } else {
    address = split_fields(&cursor, ":");
    detail = split_fields(&cursor, ":");
  }

  return WebLoginFields{event.value_or("UNKNOWN"), user.value_or("unknown"), address.value_or("unknown"),
                        detail.value_or("")};
}

CliLoginFields parse_cli_login(const std::string& value) {
  FieldCursor cursor(value);
  CliLoginFields fields;
  fields.event = split_fields(&cursor, ":").value_or("UNKNOWN");
  fields.user = user_field(&cursor).value_or("unknown");
  fields.service = split_fields(&cursor, ":");
  fields.program = split_fields(&cursor, ":");
  fields.rest = split_fields(&cursor, "").value_or("");
  return fields;
}

int32_t snmp_port_number(std::string_view dev_ref) {
  constexpr std::string_view kPrefix = "config.ports.port";
  if (dev_ref.substr(0, kPrefix.size()) != kPrefix) return 0;
  std::string_view rest = dev_ref.substr(kPrefix.size());

  // A decimal number as a scanf conversion reads it: blanks, a sign, digits.
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || (rest[i] >= '\t' && rest[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
  const size_t digits = i;
  int64_t number = 0;
  for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    number = number * 10 + (rest[i] - '0');
    if (number > int64_t{INT32_MAX} + 1) return 0;
  }
  if (i == digits) return 0;
  if (negative) number = -number;
  if (number > INT32_MAX || number < INT32_MIN) return 0;
  return static_cast<int32_t>(number);
}

int32_t snmp_value_int(const std::string& value) {
  const float reading = strtof(value.c_str(), nullptr);
  // Sensors can send "1e10", "inf" or "nan"; converting those to an
  // integer unclamped is undefined.
  if (std::isnan(reading)) return 0;
  if (reading >= 2147483648.0f) return INT32_MAX;
  if (reading <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(reading);
}
