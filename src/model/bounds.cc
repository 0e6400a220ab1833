// Bounded counts.
#include "model/bounds.h"

#include <utility>

#include "base/log.h"

int32_t bounded_total(xmldb_t* db, const char* prefix, const char* key, int32_t limit, std::string* logged) {
  const int32_t value = xmldb_getsize(db, prefix, key);
  if (value <= limit) return value;
  std::string line =
      ar_log_text(kLogError, "Too many entries in %s.%s: %d, reading the first %d", prefix, key, value, limit);
  if (logged != nullptr) *logged = std::move(line);
  return limit;
}

size_t bounded_count(const char* what, size_t count, int32_t limit, std::string* logged) {
  const size_t bound = static_cast<size_t>(limit);
  if (count <= bound) return count;
  std::string line = ar_log_text(kLogError, "Too many entries in %s: %zu, reading the first %d", what, count, limit);
  if (logged != nullptr) *logged = std::move(line);
  return bound;
}
