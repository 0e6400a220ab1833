#include "arctl/json.h"

#include "arctl/text.h"

// A value in an array, or a key in an object, comes after its separator; a
// value after its key comes at once.
void JsonWriter::start_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (open_.empty()) return;
  Open& o = open_.back();
  out_ << (o.any ? o.layout.between : o.layout.first);
  o.any = true;
}

void JsonWriter::open(char bracket, char close, JsonLayout layout) {
  start_value();
  out_ << bracket;
  open_.push_back({close, layout});
}

JsonWriter& JsonWriter::object(JsonLayout layout) { return open('{', '}', layout), *this; }
JsonWriter& JsonWriter::array(JsonLayout layout) { return open('[', ']', layout), *this; }

JsonWriter& JsonWriter::end() {
  const Open o = open_.back();
  open_.pop_back();
  if (o.any) out_ << o.layout.last;
  out_ << o.close;
  return *this;
}

JsonWriter& JsonWriter::between(std::string_view separator) {
  open_.back().layout.between = separator;
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  start_value();
  out_ << json_string(name) << ": ";
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::text(std::string_view text) {
  start_value();
  out_ << json_string(text);
  return *this;
}

JsonWriter& JsonWriter::text(const std::optional<std::string>& text) {
  return text ? this->text(std::string_view(*text)) : null();
}

JsonWriter& JsonWriter::number(int64_t n) {
  start_value();
  out_ << n;
  return *this;
}

JsonWriter& JsonWriter::boolean(bool b) {
  start_value();
  out_ << (b ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::null() {
  start_value();
  out_ << "null";
  return *this;
}

void json_time(JsonWriter& w, std::string_view name, int64_t seconds) {
  seconds > 0 ? w.member(name, seconds) : w.null_member(name);
}

void json_time_ms(JsonWriter& w, std::string_view name, int64_t ms) {
  ms != 0 ? w.member(name, ms / 1000) : w.null_member(name);
}
