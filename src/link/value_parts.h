// Values longer than one message to infod may carry, published over
// several keys: KEY holds how many parts there are, KEY.1 to KEY.N hold
// the parts, and the value is the parts joined as they are. Each part is
// far under the most infod takes in one message (kMaxInfodMessage), so no
// configuration, however large, makes the daemon write a message infod
// refuses.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "link/link.h"

// The most bytes of one part.
constexpr size_t kValuePartBytes = 64 * 1024;

// The parts of value in order, none for an empty one: each ends just after
// the last separator in its room, or fills its room when none is there (an
// entry longer than a part goes on in the next).
std::vector<std::string_view> value_parts(std::string_view value, char separator,
                                          size_t part_bytes = kValuePartBytes);

// The key of part n, from 1: key + "." + n.
std::string value_part_key(const std::string& key, size_t n);

// Pushes the parts of value under their keys, then their number under key,
// so a reader that finds the number finds the parts it counts. Parts of an
// earlier, longer value beyond the number are left as they are. 0, or the
// first push's failure.
int link_push_parts(InfodLink* link, const std::string& key, std::string_view value, char separator);
