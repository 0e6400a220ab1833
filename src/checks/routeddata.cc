// Routed data check: sums the byte counts of one interface's recent
// readings over a trigger window and a resolve window and compares them
// with a byte limit.
#include "checks/routeddata.h"

#include <cctype>
#include <cstring>
#include <string>

#include "checks/audit.h"
#include "checks/check_type.h"
#include "checks/interface_info.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "platform/strrepl.h"

namespace {

// The settings this check reads under its rule.
constexpr const char* kInterface = "routeddata.interface";
constexpr const char* kDataLimit = "routeddata.data_limit";
constexpr const char* kDataPeriod = "routeddata.data_period";

constexpr const char* kDataResolveTime = "routeddata.data_resolve_time";

// Skips leading blanks and an optional sign; true when the sign was '-'.
const char* skip_to_digits(const char* p, bool* negative) {
  while (isspace(static_cast<unsigned char>(*p))) ++p;
  *negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  return p;
}

uint32_t read_time(const char* p) {
  bool negative = false;
  p = skip_to_digits(p, &negative);
  uint32_t value = 0;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) value = value * 10u + static_cast<uint32_t>(*p - '0');
  return negative ? 0u - value : value;
}

uint32_t read_bytes(const char* p) {
  bool negative = false;
  p = skip_to_digits(p, &negative);
  uint64_t value = 0;
  for (; isdigit(static_cast<unsigned char>(*p)); ++p) {
    value = value * 10u + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) break;
  }
  // A count cannot be negative: read as 4 GiB it would trigger on noise.
  if (negative) return 0;
  return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// The element array of construct_array, released whatever happens.
class ElementArray {
 public:
  ElementArray() = default;
  ~ElementArray() { free_array(elements_, count_); }
  ElementArray(const ElementArray&) = delete;
  ElementArray& operator=(const ElementArray&) = delete;
  char*** elements() { return &elements_; }
  int* count() { return &count_; }
  int size() const { return count_; }
  const char* operator[](int i) const { return elements_[i]; }

 private:
  char** elements_ = nullptr;
  int count_ = 0;
};

}  // namespace

Reading routed_parse_reading(const char* text) {
  Reading r;
  if (text == nullptr) return r;
  r.time = read_time(text);
  if (const char* colon = strchr(text, ':')) r.bytes = read_bytes(colon + 1);
  return r;
}

bool routed_parse_readings(const char* value, std::vector<Reading>* out) {
  out->clear();
  ElementArray array;
  if (construct_array(value, array.elements(), array.count()) != 0) return false;
  out->reserve(static_cast<size_t>(array.size()));
  for (int i = 0; i < array.size(); ++i) out->push_back(routed_parse_reading(array[i]));
  return !out->empty();
}

bool routed_triggers(const std::vector<Reading>& readings, uint32_t limit, uint32_t window) {
  if (readings.size() < 2) return false;
  const Reading& newest = readings.back();
  uint64_t sum = newest.bytes;
  for (size_t k = readings.size() - 1; k-- > 0;) {
    sum += readings[k].bytes;
    const uint32_t age = newest.time - readings[k].time;
    if (age > window) return false;
    if (sum >= limit) return true;
  }
  return false;
}

bool routed_resolves(const std::vector<Reading>& readings, uint32_t limit, uint32_t resolve_window) {
  if (readings.size() < 2) return false;
  const Reading& newest = readings.back();
  uint64_t sum = newest.bytes;
  for (size_t k = readings.size() - 1; k-- > 0;) {
    sum += readings[k].bytes;
    const uint32_t age = newest.time - readings[k].time;
    // The compared sum includes the first reading at or beyond the window.
    if (age >= resolve_window) return sum <= limit;
  }
  return false;
}

namespace {

CheckOutcome routeddata_on_event(const ArCheck* check, const CheckEvent& event) {
  std::vector<Reading> readings;
  if (!routed_parse_readings(event.value.c_str(), &readings)) return outcome_drop();
  const auto limit = static_cast<uint32_t>(check_setting_size(check, kDataLimit));
  const auto window = static_cast<uint32_t>(check_setting_size(check, kDataPeriod));
  const auto resolve_window = static_cast<uint32_t>(check_setting_size(check, kDataResolveTime));
  const RulePath rule_path = check->conf.ar->path();
  const char* path = rule_path.c_str();
  if (check->state == kArNormal) {
    if (!routed_triggers(readings, limit, window)) return outcome_drop();
    return outcome_trigger("AR %s triggered. val %s received", path, event.value.c_str());
  }
  if (!routed_resolves(readings, limit, resolve_window)) return outcome_refresh();
  return outcome_resolve("AR %s resolving. val %s received", path, event.value.c_str());
}

int routeddata_describe_device(const ArCheck* check, OptionalText* device, OptionalText* label, OptionalText* dev_ref) {
  return interface_describe_device(check, kInterface, device, label, dev_ref);
}

void routeddata_audit(const ArCheck* check, AuditReport* report) {
  interface_audit(check, kInterface,
                  "no interface's traffic is counted for this rule; set it, such as config.interfaces.wan", report);
  audit_whole_number(check, kDataLimit, report);
  audit_whole_number(check, kDataResolveTime, report);
  audit_whole_number(check, kDataPeriod, report);
  if (check_setting_size(check, kDataPeriod) <= 0) {
    report->error(audit_path(check, kDataPeriod),
                  "missing or 0, so no readings are added up and every update is discarded; set the seconds to add up");
  }
}

const char* const kRouteddataSettings[] = {kInterface, kDataLimit, kDataPeriod, kDataResolveTime, nullptr};

}  // namespace

extern const CheckType kRouteddataCheck = {
    .name = "routeddata",
    .domain = "routeddata",
    .has_resolve = true,
    .level = true,
    .ops = {
        .on_event = routeddata_on_event,
        .describe_device = routeddata_describe_device,
        .describe_trigger = describe_trigger_by_kind,
        .subscription_key = subscription_key_by_kind,
        .audit = routeddata_audit,
    },
    .settings = kRouteddataSettings,
    .property = {.fixed = "Bytes"},
    .trigger = {.setting = kDataLimit},
    .key = {.joint = ".check.data-readings"},
};
