// The environmental check's trigger counter: every trigger counts in infod,
// under a key made from the sensor's own.
#pragma once

#include <string>

// The counter key of the sensor key "X.enviro.temp": "X.enviro.count.temp"
// (prefix cut to 37, suffix to 8 characters). -1 (logged) when the key has
// no dot.
int enviro_counter_key(const std::string& key, std::string* counter_key);
