// The text of a queued action's kept record.
#include "actions/queue_record.h"

#include <charconv>
#include <vector>

#include "actions/queue.h"
#include "base/escape.h"

namespace {

constexpr char kVersion[] = "1";
// Arguments and environment entries a record may claim: far more than an
// action's command line holds.
constexpr size_t kMaxStrings = 4096;

void field(std::string* out, std::string_view text) {
  *out += ' ';
  percent_escape(out, text, "");
}

template <class Number>
void number(std::string* out, Number n) {
  char digits[24];
  *out += ' ';
  *out += std::string_view(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, n).ptr - digits));
}

void strings(std::string* out, const std::vector<std::string>& list) {
  number(out, list.size());
  for (const std::string& s : list) field(out, s);
}

// The fields of a record, taken one at a time.
class Fields {
 public:
  explicit Fields(std::string_view text) : text_(text) {}
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
  bool number(Number* n) {
    std::string_view f;
    if (!next(&f) || f.empty()) return false;
    const auto [end, error] = std::from_chars(f.data(), f.data() + f.size(), *n);
    return error == std::errc() && end == f.data() + f.size();
  }
  bool strings(std::vector<std::string>* list) {
    size_t count = 0;
    if (!number(&count) || count > kMaxStrings) return false;
    list->resize(count);
    for (std::string& s : *list) {
      if (!text(&s)) return false;
    }
    return true;
  }
  bool at_end() const { return done_; }

 private:
  std::string_view text_;
  bool done_ = false;
};

}  // namespace

std::string queue_record_key(uint32_t n) { return "config.autoresponse.daemon.kept.queue." + std::to_string(n); }

std::string queue_record_format(const QueuedAction& qa, uint64_t order) {
  std::string out = kVersion;
  out += qa.state == kQueuedRunning ? " r" : " w";
  number(&out, order);
  number(&out, qa.tag);
  for (const std::string* s : {&qa.ar_path, &qa.action_path, &qa.action_name, &qa.ar_name, &qa.path}) field(&out, *s);
  strings(&out, qa.argv);
  strings(&out, qa.envp);
  return out;
}

bool queue_record_parse(std::string_view text, QueuedAction* qa, uint64_t* order) {
  Fields f(text);
  std::string_view version, state;
  if (!f.next(&version) || version != kVersion || !f.next(&state) || (state != "w" && state != "r")) return false;
  qa->state = state == "r" ? kQueuedRunning : kQueuedWaiting;
  if (!f.number(order) || !f.number(&qa->tag)) return false;
  for (std::string* s : {&qa->ar_path, &qa->action_path, &qa->action_name, &qa->ar_name, &qa->path}) {
    if (!f.text(s)) return false;
  }
  // A program named by nothing is no command.
  return !qa->path.empty() && f.strings(&qa->argv) && f.strings(&qa->envp) && f.at_end();
}
