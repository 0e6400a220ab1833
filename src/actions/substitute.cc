// Text substitution: the SubstitutionVariable table, one producer per row,
// and substitute_text, which runs a text through every row in order.
#include "actions/substitute.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/log.h"
#include "platform/strrepl.h"

namespace {

// The replacement call works on malloc'd texts; this owns one.
struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

// One wanted output of describe_trigger: 0 = value, 1 = property, 2 = trigger.
std::optional<std::string> trigger_output(ArCheck* check, int which) {
  if (check->ops == nullptr || check->ops->describe_trigger == nullptr) return std::nullopt;
  OptionalText out;
  OptionalText* value = which == 0 ? &out : nullptr;
  OptionalText* property = which == 1 ? &out : nullptr;
  OptionalText* trigger = which == 2 ? &out : nullptr;
  if (check->ops->describe_trigger(check, value, property, trigger) != 0) return std::nullopt;
  return out;
}

// One wanted output of describe_device: 0 = device, 2 = dev_ref.
std::optional<std::string> device_output(ArCheck* check, int which) {
  if (check->ops == nullptr || check->ops->describe_device == nullptr) return std::nullopt;
  OptionalText out;
  OptionalText* device = which == 0 ? &out : nullptr;
  OptionalText* dev_ref = which == 2 ? &out : nullptr;
  if (check->ops->describe_device(check, device, nullptr, dev_ref) != 0) return std::nullopt;
  return out;
}

std::optional<std::string> produce_trigger_val(ArCheck* check) { return trigger_output(check, 2); }
std::optional<std::string> produce_property(ArCheck* check) { return trigger_output(check, 1); }
std::optional<std::string> produce_value(ArCheck* check) { return trigger_output(check, 0); }
std::optional<std::string> produce_name(ArCheck* check) { return check->ar->name; }
std::optional<std::string> produce_check_dev(ArCheck* check) { return device_output(check, 0); }
std::optional<std::string> produce_dev_ref(ArCheck* check) { return device_output(check, 2); }

// Local time of the daemon's wall clock, so a test can fix it.
std::optional<std::string> produce_timestamp(ArCheck* check) {
  const DaemonContext* ctx = check->ar->daemon;
  const time_t now = ctx->clock != nullptr ? ctx->clock->wall_seconds() : time(nullptr);
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  char buffer[80];
  if (strftime(buffer, sizeof buffer, "%Y %b %e %H:%M:%S", &local) == 0) return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> produce_hostname(ArCheck* /*check*/) {
  char buffer[256] = {};
  if (gethostname(buffer, 255) != 0) return std::nullopt;
  buffer[255] = '\0';  // a name cut at the length given need not be terminated
  return std::string(buffer);
}

std::optional<std::string> produce_cellnum(ArCheck* check) { return substitution_cellnum(check); }

}  // namespace

const SubstitutionVariable kSubstitutionVariables[] = {
    {"$AR_TRIGGER_VAL", produce_trigger_val},
    {"$AR_PROPERTY", produce_property},
    {"$AR_VAL", produce_value},
    {"$AR_NAME", produce_name},
    {"$AR_CHECK_DEV", produce_check_dev},
    {"$AR_DEV_REF", produce_dev_ref},
    {"$TIMESTAMP", produce_timestamp},
    {"$HOSTNAME", produce_hostname},
    {"$CELLNUM", produce_cellnum},
    {nullptr, nullptr},
};

std::string substitution_cellnum(const ArCheck* check) {
  if (check->ar->check_type != kCheckSms || !check->current_event) return std::string();
  const std::string& value = check->current_event->value;
  const size_t start = value.find_first_not_of(':');
  if (start == std::string::npos) return std::string();
  const size_t end = value.find(':', start);
  return value.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int substitute_text(const std::string& text, ArCheck* check, std::optional<std::string>* result) {
  try {
    MallocText current(strdup(text.c_str()));
    if (!current) return -1;
    bool replaced = false;
    for (const SubstitutionVariable* row = kSubstitutionVariables; row->token != nullptr; ++row) {
      if (strstr(current.get(), row->token) == nullptr) continue;
      const std::optional<std::string> value = row->producer(check);
      if (!value) return -1;
      // strrepl takes the text over whatever it returns.
      current.reset(strrepl(current.release(), row->token, value->c_str()));
      if (!current) return -1;
      replaced = true;
    }
    if (replaced) {
      *result = std::string(current.get());
    } else {
      result->reset();
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

std::string substitute_or_keep(const std::string& text, ArCheck* check) {
  std::optional<std::string> result;
  if (substitute_text(text, check, &result) != 0) {
    ar_log(kLogWarn, "Text substitution failed");
    return text;
  }
  return result ? *result : text;
}
