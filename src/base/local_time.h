// Times as people on the appliance read them.
#pragma once

#include <cstdint>
#include <string>

// seconds since the epoch as "2024-05-01 14:03:07" in local time, the zone
// read afresh each time, since the administrator may change the appliance's
// zone while a program runs; failed when the C library cannot tell that
// time (a year past its range).
std::string local_time_text(int64_t seconds, const char* failed = "");
