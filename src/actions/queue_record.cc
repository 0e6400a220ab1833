// The text of a queued action's restart record.
#include "actions/queue_record.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "base/escape.h"

namespace {

constexpr char kVersion[] = "1";
constexpr char kRecordPrefix[] = "action.";
constexpr char kStartPrefix[] = "run.";
// What separates the fields and the parts of the update.
constexpr char kSeparators[] = " ,=";
// Times lie within this many milliseconds of the epoch.
constexpr int64_t kMaxTime = int64_t{1} << 53;

template <class Number>
void number(std::string* out, Number n) {
  char digits[24];
  *out += ' ';
  *out += std::string_view(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits));
}

void text(std::string* out, std::string_view t) {
  *out += ' ';
  percent_escape(out, t, kSeparators);
}

template <class Number>
bool read_number(std::string_view t, Number* n, int base = 10) {
  if (t.empty()) return false;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), *n, base);
  return error == std::errc() && end == t.data() + t.size();
}

// The fields of a record, taken one at a time.
class Fields {
 public:
  explicit Fields(std::string_view t) : text_(t) {}
  bool next(std::string_view* f) {
    if (done_) return false;
    const size_t at = text_.find(' ');
    *f = text_.substr(0, at);
    if (at == std::string_view::npos) {
      done_ = true;
    } else {
      text_.remove_prefix(at + 1);
    }
    return true;
  }
  bool text(std::string* out) {
    std::string_view f;
    return next(&f) && percent_unescape(f, out);
  }
  template <class Number>
  bool number(Number* n, int base = 10) {
    std::string_view f;
    return next(&f) && read_number(f, n, base);
  }
  bool at_end() const { return done_; }

 private:
  std::string_view text_;
  bool done_ = false;
};

bool read_event(std::string_view t, CheckEvent* event) {
  if (t.substr(0, 2) != "e=") return false;
  t.remove_prefix(2);
  std::string_view parts[4];
  for (int i = 0; i < 3; ++i) {
    const size_t at = t.find(',');
    if (at == std::string_view::npos) return false;
    parts[i] = t.substr(0, at);
    t.remove_prefix(at + 1);
  }
  parts[3] = t;
  return percent_unescape(parts[0], &event->key) && read_number(parts[1], &event->number) &&
         read_number(parts[2], &event->time_ms) && event->time_ms < static_cast<uint64_t>(kMaxTime) &&
         percent_unescape(parts[3], &event->value);
}

}  // namespace

std::string queue_record_name(uint64_t order) { return kRecordPrefix + std::to_string(order); }

std::string queue_start_name(uint64_t order) { return kStartPrefix + std::to_string(order); }

bool queue_record_order(std::string_view name, uint64_t* order, bool* started) {
  for (const char* prefix : {kRecordPrefix, kStartPrefix}) {
    const std::string_view p(prefix);
    if (name.substr(0, p.size()) != p) continue;
    *started = prefix == kStartPrefix;
    const std::string_view digits = name.substr(p.size());
    // Written as the queue writes it: no sign, no leading zero.
    return !digits.empty() && digits[0] != '0' && read_number(digits, order);
  }
  return false;
}

std::string queue_record_format(const QueueRecord& r) {
  std::string out = kVersion;
  number(&out, r.rule);
  char fingerprint[20];
  snprintf(fingerprint, sizeof fingerprint, " %016" PRIx64, r.fingerprint);
  out += fingerprint;
  number(&out, r.ref);
  number(&out, r.list);
  number(&out, r.action);
  number(&out, r.cycle);
  number(&out, r.queued_ms);
  text(&out, r.rule_name);
  text(&out, r.action_name);
  if (r.event) {
    out += " e=";
    percent_escape(&out, r.event->key, kSeparators);
    out += ',';
    out += std::to_string(r.event->number);
    out += ',';
    out += std::to_string(r.event->time_ms);
    out += ',';
    percent_escape(&out, r.event->value, kSeparators);
  }
  return out;
}

bool queue_record_parse(std::string_view t, QueueRecord* r) {
  *r = QueueRecord();
  Fields f(t);
  std::string_view version, fingerprint;
  if (!f.next(&version) || version != kVersion || !f.number(&r->rule) || r->rule == 0 || !f.next(&fingerprint) ||
      fingerprint.size() != 16 || !read_number(fingerprint, &r->fingerprint, 16) || !f.number(&r->ref) ||
      r->ref == 0 || !f.number(&r->list) || r->list > 1 || !f.number(&r->action) || !f.number(&r->cycle) ||
      !f.number(&r->queued_ms) || r->queued_ms <= -kMaxTime || r->queued_ms >= kMaxTime || !f.text(&r->rule_name) ||
      !f.text(&r->action_name)) {
    return false;
  }
  if (f.at_end()) return true;
  std::string_view event;
  return f.next(&event) && f.at_end() && read_event(event, &r->event.emplace());
}
