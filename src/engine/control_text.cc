// The control text's fields, verbs and arguments, and the rules of a silence.
#include "engine/control_text.h"

#include <algorithm>

namespace {

// The next field from *pos on: leading commas skipped, up to the next
// comma, which is passed over; runs of commas so count as one, and empty
// fields vanish. nullopt when only commas are left.
std::optional<std::string_view> next_field(std::string_view* pos) {
  const size_t start = pos->find_first_not_of(',');
  if (start == std::string_view::npos) {
    *pos = pos->substr(pos->size());
    return std::nullopt;
  }
  const size_t end = pos->find(',', start);
  const std::string_view field = pos->substr(start, end == std::string_view::npos ? end : end - start);
  *pos = end == std::string_view::npos ? pos->substr(pos->size()) : pos->substr(end + 1);
  return field;
}

}  // namespace

bool control_id_fits(std::string_view id) {
  return !id.empty() && id.size() <= kMaxControlId && std::all_of(id.begin(), id.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

std::optional<std::string> control_id_take(std::string_view* text) {
  if (!text->starts_with('@')) return std::nullopt;
  const size_t space = text->find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  const std::string_view id = text->substr(1, space - 1);
  if (!control_id_fits(id)) return std::nullopt;
  *text = text->substr(space + 1);
  return std::string(id);
}

std::string control_id_format(const std::string& id) { return "@" + id + " "; }

std::string control_result_format(const ControlResult& result) {
  return result.id + (result.accepted ? " accepted" : " refused " + result.reason);
}

std::optional<ControlResult> control_result_parse(std::string_view value) {
  const size_t space = value.find(' ');
  if (space == std::string_view::npos || !control_id_fits(value.substr(0, space))) return std::nullopt;
  ControlResult result{std::string(value.substr(0, space)), false, ""};
  const std::string_view rest = value.substr(space + 1);
  if (rest == "accepted") {
    result.accepted = true;
    return result;
  }
  if (!rest.starts_with("refused ")) return std::nullopt;
  result.reason = std::string(rest.substr(8));
  return result;
}

std::optional<ControlText> control_text_parse(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string_view pos = text;
  const auto path = next_field(&pos);
  const auto origin = path ? next_field(&pos) : std::nullopt;
  const auto command = origin ? next_field(&pos) : std::nullopt;
  if (!command) return std::nullopt;
  return ControlText{std::string(*path), std::string(*origin), std::string(*command), std::string(pos)};
}

std::string control_text_format(const ControlText& text) {
  std::string out = text.path + "," + text.origin + "," + text.command;
  if (!text.args.empty()) out += "," + text.args;
  return out;
}

namespace {

struct VerbName {
  ControlVerb verb;
  const char* name;
  bool exact;
};

constexpr VerbName kVerbs[] = {
    {ControlVerb::kCancel, "cancel", false},
    {ControlVerb::kSilence, "silence", true},
    {ControlVerb::kUnsilence, "unsilence", true},
};

}  // namespace

std::optional<ControlVerb> control_verb_of(std::string_view command) {
  for (const VerbName& v : kVerbs) {
    if (v.exact ? command == v.name : command.starts_with(v.name)) return v.verb;
  }
  return std::nullopt;
}

const char* control_verb_name(ControlVerb verb) {
  for (const VerbName& v : kVerbs) {
    if (v.verb == verb) return v.name;
  }
  return "";
}

std::optional<uint32_t> control_count_parse(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - '0'), UINT32_MAX);
  return static_cast<uint32_t>(value);
}

bool silence_args_parse(std::string_view args, SilenceArgs* out, std::string* why) {
  std::string_view pos = args;
  const auto seconds_text = next_field(&pos);
  const auto ref_text = seconds_text ? next_field(&pos) : std::nullopt;
  const auto seconds = control_count_parse(seconds_text.value_or(""));
  if (!seconds) {
    *why = "no number of seconds";
    return false;
  }
  const auto ref = control_count_parse(ref_text.value_or(""));
  if (!ref) {
    *why = "no reference number";
    return false;
  }
  const size_t reason = pos.find_first_not_of(',');
  out->seconds = *seconds;
  out->ref = *ref;
  out->reason.reset();
  if (reason != std::string_view::npos) out->reason = std::string(pos.substr(reason));
  return true;
}

std::string silence_args_format(const SilenceArgs& args) {
  std::string out = std::to_string(args.seconds) + "," + std::to_string(args.ref);
  if (args.reason) out += "," + *args.reason;
  return out;
}

bool unsilence_args_parse(std::string_view args, uint32_t* ref, std::string* why) {
  std::string_view pos = args;
  const auto parsed = control_count_parse(next_field(&pos).value_or(""));
  if (!parsed) {
    *why = "no reference number";
    return false;
  }
  *ref = *parsed;
  return true;
}

std::string unsilence_args_format(uint32_t ref) { return std::to_string(ref); }

namespace {

bool control_character(unsigned char c) { return c < 0x20 || c == 0x7f; }

}  // namespace

bool control_field_fits(std::string_view name) {
  return !name.empty() && std::none_of(name.begin(), name.end(), [](unsigned char c) {
    return c == ',' || control_character(c);
  });
}

std::string silence_bounds_refusal(int64_t seconds, size_t reason_size) {
  if (!silence_seconds_fit(seconds)) {
    return "the duration must be 1 to " + std::to_string(kMaxSilenceSeconds) + " seconds";
  }
  if (reason_size > kMaxSilenceReason) {
    return "the reason is longer than " + std::to_string(kMaxSilenceReason) + " bytes";
  }
  return "";
}

bool silence_seconds_fit(int64_t seconds) { return seconds >= 1 && seconds <= kMaxSilenceSeconds; }

bool silence_reason_fits(std::string_view text) {
  return text.size() <= kMaxSilenceReason &&
         std::none_of(text.begin(), text.end(), [](unsigned char c) { return control_character(c); });
}

std::string silenced_whom(uint32_t ref) { return ref == 0 ? "every reference" : "reference " + std::to_string(ref); }
