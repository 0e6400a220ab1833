// Long values over several keys.
#include "link/value_parts.h"

std::vector<std::string_view> value_parts(std::string_view value, char separator, size_t part_bytes) {
  std::vector<std::string_view> parts;
  while (!value.empty()) {
    size_t length = value.size();
    if (length > part_bytes) {
      const size_t last = value.rfind(separator, part_bytes - 1);
      length = last == std::string_view::npos ? part_bytes : last + 1;
    }
    parts.push_back(value.substr(0, length));
    value.remove_prefix(length);
  }
  return parts;
}

std::string value_part_key(const std::string& key, size_t n) { return key + "." + std::to_string(n); }

int link_push_parts(InfodLink* link, const std::string& key, std::string_view value, char separator) {
  const std::vector<std::string_view> parts = value_parts(value, separator);
  for (size_t n = 1; n <= parts.size(); ++n) {
    if (const int result = link_push(link, value_part_key(key, n).c_str(), std::string(parts[n - 1]).c_str());
        result != 0) {
      return result;
    }
  }
  return link_push(link, key.c_str(), std::to_string(parts.size()).c_str());
}
