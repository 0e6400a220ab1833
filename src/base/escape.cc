// Percent escapes of record fields.
#include "base/escape.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void percent_escape(std::string* out, std::string_view text, std::string_view separators) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7f || c == '%' || separators.find(c) != std::string_view::npos) {
      *out += '%';
      *out += kHex[byte >> 4];
      *out += kHex[byte & 0xf];
    } else {
      *out += c;
    }
  }
}

bool percent_unescape(std::string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = hex_digit(text[i + 1]), low = hex_digit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    *out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}
