// Local time for people.
#include "base/local_time.h"

#include <ctime>

std::string local_time_text(int64_t seconds, const char* failed) {
  const time_t t = static_cast<time_t>(seconds);
  tzset();
  struct tm local {};
  char text[32];
  if (localtime_r(&t, &local) == nullptr || strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return failed;
  }
  return text;
}
