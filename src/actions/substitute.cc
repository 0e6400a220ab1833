// Text substitution: the SubstitutionVariable table, one producer per row,
// and substitute_text, which puts the values of the tokens a text holds
// in their places.
#include "actions/substitute.h"

#include <unistd.h>

#include <ctime>
#include <iterator>
#include <new>
#include <string_view>

#include "base/clock.h"
#include "base/log.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/check_kind.h"

namespace {

// One wanted output of describe_trigger: 0 = value, 1 = property, 2 = trigger.
std::optional<std::string> trigger_output(ArCheck* check, int which) {
  if (check->conf.ops == nullptr || check->conf.ops->describe_trigger == nullptr) return std::nullopt;
  OptionalText out;
  OptionalText* value = which == 0 ? &out : nullptr;
  OptionalText* property = which == 1 ? &out : nullptr;
  OptionalText* trigger = which == 2 ? &out : nullptr;
  if (check->conf.ops->describe_trigger(check, value, property, trigger) != 0) return std::nullopt;
  return out;
}

// One wanted output of describe_device: 0 = device, 2 = dev_ref.
std::optional<std::string> device_output(ArCheck* check, int which) {
  if (check->conf.ops == nullptr || check->conf.ops->describe_device == nullptr) return std::nullopt;
  OptionalText out;
  OptionalText* device = which == 0 ? &out : nullptr;
  OptionalText* dev_ref = which == 2 ? &out : nullptr;
  if (check->conf.ops->describe_device(check, device, nullptr, dev_ref) != 0) return std::nullopt;
  return out;
}

std::optional<std::string> produce_trigger_val(const SubstitutionSources& /*from*/, ArCheck* check) { return trigger_output(check, 2); }
std::optional<std::string> produce_property(const SubstitutionSources& /*from*/, ArCheck* check) { return trigger_output(check, 1); }
std::optional<std::string> produce_value(const SubstitutionSources& /*from*/, ArCheck* check) { return trigger_output(check, 0); }
std::optional<std::string> produce_name(const SubstitutionSources& /*from*/, ArCheck* check) { return check->conf.ar->name; }
std::optional<std::string> produce_check_dev(const SubstitutionSources& /*from*/, ArCheck* check) { return device_output(check, 0); }
std::optional<std::string> produce_dev_ref(const SubstitutionSources& /*from*/, ArCheck* check) { return device_output(check, 2); }

// Local time of the daemon's wall clock, so a test can fix it.
std::optional<std::string> produce_timestamp(const SubstitutionSources& from, ArCheck* /*check*/) {
  const time_t now = from.clock.wall_seconds();
  tzset();  // the administrator may have changed the appliance's zone
  tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::nullopt;
  char buffer[80];
  if (strftime(buffer, sizeof buffer, "%Y %b %e %H:%M:%S", &local) == 0) return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> produce_hostname(const SubstitutionSources& from, ArCheck* /*check*/) {
  if (from.hostname) return from.hostname;
  char buffer[256] = {};
  if (gethostname(buffer, 255) != 0) return std::nullopt;
  buffer[255] = '\0';  // a name cut at the length given need not be terminated
  return std::string(buffer);
}

std::optional<std::string> produce_cellnum(const SubstitutionSources& /*from*/, ArCheck* check) { return substitution_cellnum(check); }

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
  const CheckType* kind = check->conf.ar->kind;
  if (kind == nullptr || kind->ops.reply_to == nullptr) return std::string();
  return kind->ops.reply_to(check);
}

int substitute_text(const SubstitutionSources& from, const std::string& text, ArCheck* check,
                    std::optional<std::string>* result) {
  try {
    // Each token that occurs in the administrator's text gets its value
    // first, row by row, so the producers run (and fail) in table order.
    std::optional<std::string> values[std::size(kSubstitutionVariables)];
    bool any = false;
    for (size_t r = 0; kSubstitutionVariables[r].token != nullptr; ++r) {
      if (text.find(kSubstitutionVariables[r].token) == std::string::npos) continue;
      values[r] = kSubstitutionVariables[r].producer(from, check);
      if (!values[r]) return -1;
      any = true;
    }
    if (!any) {
      result->reset();
      return 0;
    }
    // One pass from left to right over the administrator's text. An
    // inserted value is copied verbatim and never searched: a value comes
    // from outside (an SMS text, a reading) and must neither reveal other
    // values nor grow without end.
    std::string out;
    size_t copied = 0;
    for (size_t pos = 0; pos < text.size(); ++pos) {
      for (size_t r = 0; kSubstitutionVariables[r].token != nullptr; ++r) {
        const std::string_view token = kSubstitutionVariables[r].token;
        if (!values[r] || text.compare(pos, token.size(), token) != 0) continue;
        out.append(text, copied, pos - copied);
        out += *values[r];
        copied = pos + token.size();
        pos = copied - 1;
        break;
      }
    }
    out.append(text, copied, std::string::npos);
    *result = std::move(out);
    return 0;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

std::string substitute_or_keep(const SubstitutionSources& from, const std::string& text, ArCheck* check) {
  std::optional<std::string> result;
  if (substitute_text(from, text, check, &result) != 0) {
    ar_log(kLogWarn, "Text substitution failed");
    return text;
  }
  return result ? *result : text;
}
