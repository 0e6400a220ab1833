// fuzz-seconds: 30
// libFuzzer target: construct_array on arbitrary text, checking that every element is a non-empty run without
// separators taken from the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/strrepl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated
  char** elements = nullptr;
  int count = -1;
  if (construct_array(text.c_str(), &elements, &count) != 0 || count < 0 || (count == 0) != (elements == nullptr))
    std::abort();
  size_t total = 0;
  for (int i = 0; i < count; ++i) {
    if (!*elements[i] || std::strpbrk(elements[i], ", \t\n\v\f\r") || !std::strstr(text.c_str(), elements[i]))
      std::abort();
    total += std::strlen(elements[i]) + 1;
  }
  if (total > std::strlen(text.c_str()) + 1)
    std::abort();
  free_array(elements, count);
  return 0;
}
