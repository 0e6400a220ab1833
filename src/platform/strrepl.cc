// Small text helpers of the appliance library: token replacement and the
// list splitter, both handing out malloc'd texts to C-style callers.
#include "platform/strrepl.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Releases a malloc'd text when it goes out of scope.
struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

// What separates the elements of a list text.
constexpr char kListSeparators[] = ", \t\n\v\f\r";

}  // namespace

char* strrepl(char* text, const char* token, const char* value) {
  MallocText owned(text);
  if (!text || !token || !*token || !value)
    return nullptr;

  size_t text_len = std::strlen(text);
  size_t token_len = std::strlen(token);
  size_t value_len = std::strlen(value);
  size_t count = 0;
  for (const char* p = std::strstr(text, token); p; p = std::strstr(p + token_len, token))
    ++count;
  if (count == 0)
    return owned.release();

  size_t result_len = text_len - count * token_len;
  if (value_len > 0 && count > (SIZE_MAX - 1 - result_len) / value_len)
    return nullptr;
  result_len += count * value_len;

  char* result = static_cast<char*>(std::malloc(result_len + 1));
  if (!result)
    return nullptr;
  char* out = result;
  const char* in = text;
  for (const char* p = std::strstr(in, token); p; p = std::strstr(in, token)) {
    std::memcpy(out, in, static_cast<size_t>(p - in));
    out += p - in;
    std::memcpy(out, value, value_len);
    out += value_len;
    in = p + token_len;
  }
  std::strcpy(out, in);
  return result;
}

int construct_array(const char* text, char*** elements, int* count) {
  if (!text || !elements || !count)
    return -1;

  size_t n = 0;
  for (const char* p = text + std::strspn(text, kListSeparators); *p;) {
    ++n;
    p += std::strcspn(p, kListSeparators);
    p += std::strspn(p, kListSeparators);
  }
  if (n == 0) {
    *elements = nullptr;
    *count = 0;
    return 0;
  }
  if (n > static_cast<size_t>(INT_MAX))
    return -1;

  auto* array = static_cast<char**>(std::calloc(n, sizeof(char*)));
  if (!array)
    return -1;
  size_t i = 0;
  for (const char* p = text + std::strspn(text, kListSeparators); *p; ++i) {
    size_t len = std::strcspn(p, kListSeparators);
    array[i] = strndup(p, len);
    if (!array[i]) {
      free_array(array, static_cast<int>(i));
      return -1;
    }
    p += len;
    p += std::strspn(p, kListSeparators);
  }
  *elements = array;
  *count = static_cast<int>(n);
  return 0;
}

void free_array(char** elements, int count) {
  if (!elements)
    return;
  for (int i = 0; i < count; ++i)
    std::free(elements[i]);
  std::free(elements);
}
