// Sets TZ for one scope and restores it, so no test depends on, or changes, the machine's own zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

struct ZoneGuard {
  explicit ZoneGuard(const char* zone) {
    if (const char* old = getenv("TZ")) saved = old;
    setenv("TZ", zone, 1), tzset();
  }
  ~ZoneGuard() { saved ? setenv("TZ", saved->c_str(), 1) : unsetenv("TZ"), tzset(); }
  std::optional<std::string> saved;
};
