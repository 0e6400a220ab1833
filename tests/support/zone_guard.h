// Sets the local time zone (TZ) for one test and restores the previous
// setting afterwards, so no test depends on, or changes, the machine's own
// zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = getenv("TZ");
    if (old != nullptr) saved_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ZoneGuard(const ZoneGuard&) = delete;
  ZoneGuard& operator=(const ZoneGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};
