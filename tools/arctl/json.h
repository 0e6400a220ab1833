// The one way arctl writes JSON: a writer that escapes every text, puts the
// commas and closes what it opened, so no command builds JSON by hand. Its
// layout is the caller's (which containers break their elements over lines,
// and how), because programs and tests read arctl's output as it stands.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// How a container spreads its elements: what comes before the first, between
// two, and before the closing bracket when it holds any.
struct JsonLayout {
  std::string_view first = "";
  std::string_view between = ", ";
  std::string_view last = "";
};

// Each element of a broken array on a line of its own, indented by two,
// the closing bracket on the next line indented by one.
inline constexpr JsonLayout kJsonLines{"\n  ", ",\n  ", "\n "};

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& object(JsonLayout layout = {});
  JsonWriter& array(JsonLayout layout = {});
  JsonWriter& end();  // of the innermost object or array
  // The separator the open container puts before its later elements.
  JsonWriter& between(std::string_view separator);

  JsonWriter& key(std::string_view name);  // in an object, before its value
  JsonWriter& text(std::string_view text);
  JsonWriter& text(const char* text) { return this->text(std::string_view(text)); }
  JsonWriter& text(const std::string& text) { return this->text(std::string_view(text)); }
  JsonWriter& text(const std::optional<std::string>& text);  // null for none
  JsonWriter& number(int64_t n);
  JsonWriter& boolean(bool b);
  JsonWriter& null();
  // Shorthands for a member of an object.
  template <typename T>
  JsonWriter& member(std::string_view name, const T& value) {
    key(name);
    if constexpr (std::is_same_v<T, bool>) {
      return boolean(value);
    } else if constexpr (std::is_integral_v<T>) {
      return number(static_cast<int64_t>(value));
    } else {
      return text(value);
    }
  }
  JsonWriter& null_member(std::string_view name) { return key(name).null(); }

 private:
  struct Open {
    char close;
    JsonLayout layout;
    bool any = false;
  };
  void start_value();
  void open(char bracket, char close, JsonLayout layout);

  std::ostream& out_;
  std::vector<Open> open_;
  bool after_key_ = false;
};

// A time as arctl's JSON gives times, in seconds since the epoch, or null
// where there is none: given in seconds (none unless positive), or in
// milliseconds (none for 0).
void json_time(JsonWriter& w, std::string_view name, int64_t seconds);
void json_time_ms(JsonWriter& w, std::string_view name, int64_t ms);
