// The text of a rule's restart record, written and read.
#include "engine/restart_record.h"

#include <cinttypes>
#include <charconv>
#include <cstdio>

#include "base/escape.h"

namespace {

constexpr char kShownVersion[] = "1";
constexpr char kFileVersion[] = "2";
// What separates references, fields and the parts of a field.
constexpr char kSeparators[] = "; ,@=";
constexpr char kStatusLetters[] = "npqdh";  // by ActionStatus

template <class Number>
void append_number(std::string* out, Number n) {
  char digits[24];
  *out += std::string_view(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits));
}

template <class Number>
bool read_number(std::string_view text, Number* n) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *n);
  return error == std::errc() && end == text.data() + text.size();
}

// A time: a number no clock is far from.
bool read_time(std::string_view text, int64_t* ms) {
  return read_number(text, ms) && *ms > -kMaxRecordTime && *ms < kMaxRecordTime;
}

bool read_time(std::string_view text, uint64_t* ms) {
  return read_number(text, ms) && *ms < static_cast<uint64_t>(kMaxRecordTime);
}

// Splits text at the first sep: *head is before it, text after it (empty
// and false when there is none: then *head is all of it).
bool split(std::string_view* text, char sep, std::string_view* head) {
  const size_t at = text->find(sep);
  *head = text->substr(0, at);
  if (at == std::string_view::npos) {
    *text = std::string_view();
    return false;
  }
  text->remove_prefix(at + 1);
  return true;
}

void append_statuses(std::string* out, const std::vector<ActionStatus>& statuses) {
  if (statuses.empty()) {
    *out += '-';
    return;
  }
  for (size_t i = 0; i < statuses.size();) {
    size_t run = 1;
    while (i + run < statuses.size() && statuses[i + run] == statuses[i]) ++run;
    *out += kStatusLetters[statuses[i] < 5 ? statuses[i] : 0];
    if (run > 1) append_number(out, run);
    i += run;
  }
}

// At most this many statuses a record may claim: two lists of a rule's own
// actions and the shared ones, each at most a thousand and twenty-four.
constexpr size_t kMaxStatuses = 4 * 1024;

bool read_statuses(std::string_view text, std::vector<ActionStatus>* statuses) {
  statuses->clear();
  if (text == "-") return true;
  while (!text.empty()) {
    const size_t letter = std::string_view(kStatusLetters).find(text[0]);
    if (letter == std::string_view::npos) return false;
    text.remove_prefix(1);
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    size_t run = 1;
    if (digits > 0 && (!read_number(text.substr(0, digits), &run) || run < 2)) return false;
    text.remove_prefix(digits);
    if (run > kMaxStatuses - statuses->size()) return false;
    statuses->insert(statuses->end(), run, static_cast<ActionStatus>(letter));
  }
  return !statuses->empty();
}

bool read_event(std::string_view text, CheckEvent* event) {
  std::string_view key, number, time;
  if (!split(&text, ',', &key) || !split(&text, ',', &number) || !split(&text, ',', &time)) return false;
  return percent_unescape(key, &event->key) && read_number(number, &event->number) &&
         read_time(time, &event->time_ms) && percent_unescape(text, &event->value);
}

bool read_due(std::string_view text, RestartDue* due) {
  std::string_view action, when;
  if (!split(&text, '@', &action) || !split(&text, ',', &when)) return false;
  return read_number(action, &due->action) && read_time(when, &due->due_ms) && percent_unescape(text, &due->name);
}

void append_event(std::string* out, const CheckEvent& event) {
  percent_escape(out, event.key, kSeparators);
  *out += ',';
  append_number(out, event.number);
  *out += ',';
  append_number(out, event.time_ms);
  *out += ',';
  percent_escape(out, event.value, kSeparators);
}

// At most as many places as a list has actions.
bool read_places(std::string_view text, std::vector<uint32_t>* places) {
  while (true) {
    std::string_view place;
    const bool more = split(&text, '.', &place);
    uint32_t n = 0;
    if (!read_number(place, &n) || n >= 4096 || places->size() >= 4096) return false;
    places->push_back(n);
    if (!more) return true;
  }
}

bool read_reference(std::string_view text, bool file_form, RestartReference* ref) {
  std::string_view number, state, since, statuses;
  if (!split(&text, ' ', &number) || !split(&text, ' ', &state) || !split(&text, ' ', &since)) return false;
  split(&text, ' ', &statuses);
  int32_t state_number = 0;
  if (!read_number(number, &ref->ref) || ref->ref == 0 || !read_number(state, &state_number) ||
      state_number < kArNormal || state_number > kArDisabled || !read_time(since, &ref->since_ms) ||
      !read_statuses(statuses, &ref->statuses)) {
    return false;
  }
  ref->state = static_cast<ArCheckState>(state_number);
  while (!text.empty()) {
    std::string_view field;
    split(&text, ' ', &field);
    if (field.size() < 2 || field[1] != '=') return false;
    const std::string_view value = field.substr(2);
    switch (field[0]) {
      case 'c':
        if (!file_form || !read_number(value, &ref->cycle)) return false;
        break;
      case 'e':
        if (ref->event) return false;
        if (!read_event(value, &ref->event.emplace())) return false;
        break;
      case 'd':
        if (!read_due(value, &ref->delayed.emplace_back())) return false;
        break;
      case 'r':
        if (!read_time(value, &ref->repeat_ms)) return false;
        break;
      case 'y': {
        if (file_form || value.size() != 16 || ref->key_hash != 0) return false;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ref->key_hash, 16);
        if (error != std::errc() || end != value.data() + value.size() || ref->key_hash == 0) return false;
        break;
      }
      case 'w':
        if (file_form || ref->window_end_ms != 0 || !read_time(value, &ref->window_end_ms) || ref->window_end_ms == 0) return false;
        break;
      case 'x':
        if (value != "1" || ref->trigger_ran) return false;
        ref->trigger_ran = true;
        break;
      case 'k':
        if (value != "1" || ref->cancelled) return false;
        ref->cancelled = true;
        break;
      case 'o':
        if (!ref->held_resolve.empty() || !read_places(value, &ref->held_resolve)) return false;
        break;
      case 'f':
        if (ref->held_event || !read_event(value, &ref->held_event.emplace())) return false;
        break;
      case 't':
        if (!read_time(value, &ref->timeout_end_ms)) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

bool read_silence(std::string_view text, RestartSilence* silence) {
  std::string_view ref, until, origin;
  if (!split(&text, ' ', &ref) || !split(&text, ' ', &until) || !split(&text, ' ', &origin)) return false;
  return read_number(ref, &silence->ref) && read_time(until, &silence->until_ms) &&
         percent_unescape(origin, &silence->origin) && percent_unescape(text, &silence->reason);
}

}  // namespace

uint64_t key_hash(std::string_view key) {
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a: small, and the same on every build
  for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  return hash == 0 ? 1 : hash;
}

namespace {

// A boot id as the kernel writes it: hexadecimal digits and dashes.
bool boot_id_text(std::string_view text) {
  return !text.empty() && text.size() <= 64 && text.find_first_not_of("0123456789abcdef-") == std::string_view::npos;
}

bool read_clock(std::string_view* head, RecordClock* clock) {
  std::string_view boot, wall;
  if (!split(head, ' ', &boot) || !split(head, ' ', &wall)) return false;
  clock->boot = boot;
  return (boot == "-" || boot_id_text(boot)) && read_time(wall, &clock->wall_ms) &&
         read_time(*head, &clock->monotonic_ms);
}

}  // namespace

std::string shown_record_key(uint32_t rule_number) {
  return "config.autoresponse.daemon.kept." + std::to_string(rule_number);
}

std::string rule_record_name(uint32_t rule_number) { return "rule." + std::to_string(rule_number); }

std::string restart_rule_format(const RestartRule& rule) {
  std::string out = rule.clock ? kFileVersion : kShownVersion;
  char fingerprint[20];
  snprintf(fingerprint, sizeof fingerprint, " %016" PRIx64, rule.fingerprint);
  out += fingerprint;
  if (rule.clock) {
    out += ' ';
    out += rule.clock->boot;
    out += ' ';
    append_number(&out, rule.clock->wall_ms);
    out += ' ';
    append_number(&out, rule.clock->monotonic_ms);
  }
  for (const RestartReference& ref : rule.refs) {
    out += ';';
    append_number(&out, ref.ref);
    out += ' ';
    append_number(&out, static_cast<int32_t>(ref.state));
    out += ' ';
    append_number(&out, ref.since_ms);
    out += ' ';
    append_statuses(&out, ref.statuses);
    if (rule.clock) {
      out += " c=";
      append_number(&out, ref.cycle);
    }
    if (ref.event) {
      out += " e=";
      append_event(&out, *ref.event);
    }
    for (const RestartDue& due : ref.delayed) {
      out += " d=";
      append_number(&out, due.action);
      out += '@';
      append_number(&out, due.due_ms);
      out += ',';
      percent_escape(&out, due.name, kSeparators);
    }
    if (ref.repeat_ms != 0) {
      out += " r=";
      append_number(&out, ref.repeat_ms);
    }
    if (ref.timeout_end_ms != 0) {
      out += " t=";
      append_number(&out, ref.timeout_end_ms);
    }
    if (ref.trigger_ran) out += " x=1";
    if (ref.cancelled) out += " k=1";
    for (size_t i = 0; i < ref.held_resolve.size(); ++i) {
      out += i == 0 ? " o=" : ".";
      append_number(&out, ref.held_resolve[i]);
    }
    if (ref.held_event) {
      out += " f=";
      append_event(&out, *ref.held_event);
    }
    if (!rule.clock && ref.key_hash != 0) {
      char hash[24];
      snprintf(hash, sizeof hash, " y=%016" PRIx64, ref.key_hash);
      out += hash;
    }
    if (!rule.clock && ref.window_end_ms != 0) {
      out += " w=";
      append_number(&out, ref.window_end_ms);
    }
  }
  for (const RestartSilence& silence : rule.silences) {
    out += ";s ";
    append_number(&out, silence.ref);
    out += ' ';
    append_number(&out, silence.until_ms);
    out += ' ';
    percent_escape(&out, silence.origin, kSeparators);
    out += ' ';
    percent_escape(&out, silence.reason, kSeparators);
  }
  return out;
}

bool restart_rule_parse(std::string_view text, RestartRule* rule) {
  *rule = RestartRule();
  std::string_view head, version, fingerprint;
  const bool more = split(&text, ';', &head);
  if (!split(&head, ' ', &version) || (version != kShownVersion && version != kFileVersion)) return false;
  const bool file_form = version == kFileVersion;
  if (file_form) {
    if (!split(&head, ' ', &fingerprint) || !read_clock(&head, &rule->clock.emplace())) return false;
  } else {
    fingerprint = head;
  }
  if (fingerprint.size() != 16) return false;
  const auto [end, error] =
      std::from_chars(fingerprint.data(), fingerprint.data() + fingerprint.size(), rule->fingerprint, 16);
  if (error != std::errc() || end != fingerprint.data() + fingerprint.size()) return false;
  if (!more) return true;
  while (true) {
    std::string_view entry;
    const bool again = split(&text, ';', &entry);
    if (entry.rfind("s ", 0) == 0) {
      if (!read_silence(entry.substr(2), &rule->silences.emplace_back())) return false;
    } else if (!rule->silences.empty() || !read_reference(entry, file_form, &rule->refs.emplace_back())) {
      return false;  // references come first
    }
    if (!again) return true;
  }
}
