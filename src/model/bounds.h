// Counts read from the configuration ("total" keys), with an upper bound:
// a broken or hostile value must not make the daemon loop over, or
// allocate for, billions of absent entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/xmldb.h"

// The size at prefix.key, at most limit; a value above it is cut to limit
// with one priority-300 line naming the key, which is also put in *logged
// when logged is not null (left alone otherwise).
int32_t bounded_total(xmldb_t* db, const char* prefix, const char* key, int32_t limit,
                      std::string* logged = nullptr);

// count cut to limit, with the same line naming what (a path) when it is
// more; for counts that are no setting, such as the children of an element.
size_t bounded_count(const char* what, size_t count, int32_t limit, std::string* logged = nullptr);
