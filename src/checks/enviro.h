// The environmental check's trigger counter, kept in infod and counted
// on the daemon's own connection.
#pragma once

#include <string>

struct InfodLink;

// Adds one to the counter of the sensor key "X.enviro.temp" under
// "X.enviro.count.temp" (prefix cut to 37, suffix to 8 characters); the
// count runs 1 to 2147483647 and starts again at 1; a stored count that
// cannot be read (no answer within the get's time) is left alone. 0, or -1
// when the counter was left alone.
int increment_event_count(InfodLink* link, const std::string& key);
