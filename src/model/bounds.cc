// Bounded counts.
#include "model/bounds.h"

#include "base/log.h"

int32_t bounded_total(xmldb_t* db, const char* prefix, const char* key, int32_t limit) {
  const int32_t value = xmldb_getsize(db, prefix, key);
  if (value <= limit) return value;
  ar_log(kLogError, "Too many entries in %s.%s: %d, reading the first %d", prefix, key, value, limit);
  return limit;
}

size_t bounded_count(const char* what, size_t count, int32_t limit) {
  const size_t bound = static_cast<size_t>(limit);
  if (count <= bound) return count;
  ar_log(kLogError, "Too many entries in %s: %zu, reading the first %d", what, count, limit);
  return bound;
}
