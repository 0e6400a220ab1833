// Visible values and aligned tables.
#include "arctl/text.h"

#include <algorithm>
#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at text[i], or 0 when there is
// none (an ASCII byte is one of length 1).
size_t utf8_length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t n;
  unsigned min;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2, min = 0x80;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3, min = 0x800;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  unsigned code = lead & (0xff >> (n + 1));
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3f);
  }
  // Overlong forms, surrogates and code points past Unicode are no UTF-8.
  if (code < min || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
  return n;
}

// Whether the valid sequence at text[i] is a C1 control character (U+0080
// to U+009F), which acts on terminals like a C0 one.
bool c1_control(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]) == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
}

}  // namespace

std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t n = utf8_length(text, i);
    if (n == 2 && c1_control(text, i)) n = 0;
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (n == 0 || c < 0x20 || c == 0x7f) {
      // A C1 control is no valid sequence here: both its bytes are escaped.
      char escape[5];
      snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
  }
  return out;
}

std::string json_string(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t n = utf8_length(text, i);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (n == 0 || c < 0x20 || c == 0x7f) {
      char escape[7];
      snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    ++i;
  }
  return out + '"';
}

size_t display_width(std::string_view text) {
  size_t width = 0;
  for (unsigned char c : text) width += (c & 0xc0) != 0x80 ? 1 : 0;
  return width;
}

void print_table(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    if (widths.size() < row.size()) widths.resize(row.size(), 0);
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], display_width(row[c]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line.append(widths[c] - display_width(row[c]) + 2, ' ');
    }
    out << line << '\n';
  }
}
