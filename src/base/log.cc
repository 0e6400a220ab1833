// The log category, its appender and ar_log.
#include "base/log.h"

#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <log4c.h>
#include <log4c/appender_type_syslog.h>

namespace {

log4c_category_t* g_category = nullptr;
log4c_appender_t* g_appender = nullptr;
LogObserver g_observer = nullptr;
void* g_observer_data = nullptr;
// The line head of a log on standard error: "HOST NAME[PID]: ".
std::string g_stderr_tag;

// One line on standard error as syslog keeps it, so that arctl log -n
// reads a development daemon's log as the appliance's: the local time to
// the millisecond with its offset (RFC 3339), the host, the program's name
// and pid, the message. Written whole, in one call.
void log_to_stderr(const std::string& text) {
  timeval now{};
  gettimeofday(&now, nullptr);
  struct tm local{};
  char stamp[64] = "";
  if (localtime_r(&now.tv_sec, &local) != nullptr) {
    char zone[8] = "";
    strftime(zone, sizeof zone, "%z", &local);  // +0100
    char day[32] = "";
    strftime(day, sizeof day, "%Y-%m-%dT%H:%M:%S", &local);
    snprintf(stamp, sizeof stamp, "%s.%03ld%.3s:%.2s", day, static_cast<long>(now.tv_usec / 1000), zone, zone + 3);
  }
  const std::string line = std::string(stamp) + " " + g_stderr_tag + text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

std::string format_text(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  return text;
}

void log_escape(std::string* out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  for (const char byte : text) {
    const auto c = static_cast<unsigned char>(byte);
    if (log_escaped(c)) {
      const char escape[kLogEscapeSize] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xf]};
      out->append(escape, kLogEscapeSize);
    } else {
      out->push_back(byte);
    }
  }
}

namespace {

void category_log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
void category_log(int priority, const char* format, ...) {
  const log4c_location_info_t location = LOG4C_LOCATION_INFO_INITIALIZER(nullptr);
  va_list args;
  va_start(args, format);
  __log4c_category_vlog(g_category, &location, priority, format, args);
  va_end(args);
}

}  // namespace

void log_open(const char* name, LogSink sink) {
  g_category = log4c_category_new(name);
  log4c_category_set_priority(g_category, kLogInfo);
  if (sink == LogSink::Stderr) {
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') snprintf(host, sizeof host, "localhost");
    // The program's name without its directory, as syslog tags a line.
    const char* slash = strrchr(name, '/');
    g_stderr_tag = std::string(host) + " " + (slash != nullptr ? slash + 1 : name) + "[" + std::to_string(getpid()) + "]: ";
    return;
  }
  g_appender = log4c_appender_new(name);
  log4c_appender_set_type(g_appender, &log4c_appender_type_syslog);
  log4c_category_set_appender(g_category, g_appender);
}

void log_close() {
  if (g_category != nullptr) log4c_category_delete(g_category);
  if (g_appender != nullptr) log4c_appender_delete(g_appender);
  g_category = nullptr;
  g_appender = nullptr;
  g_stderr_tag.clear();
}

void log_set_observer(LogObserver observer, void* data) {
  g_observer = observer;
  g_observer_data = data;
}

void ar_log(int priority, const char* format, ...) {
  const int saved_errno = errno;
  // Without a category (tests that never open the log) the level is the
  // daemon's fixed one, so observers see exactly what syslog would.
  const int level = g_category != nullptr ? log4c_category_get_chainedpriority(g_category) : kLogInfo;
  if (priority <= level && (g_category != nullptr || g_observer != nullptr)) {
    va_list args;
    va_start(args, format);
    const std::string text = format_text(format, args);
    va_end(args);
    std::string line;
    line.reserve(text.size());
    log_escape(&line, text);
    if (!g_stderr_tag.empty()) {
      log_to_stderr(line);
    } else if (g_category != nullptr) {
      category_log(priority, "%s", line.c_str());
    }
    if (g_observer != nullptr) g_observer(priority, line.c_str(), g_observer_data);
  }
  fflush(nullptr);
  errno = saved_errno;
}

std::string ar_log_text(int priority, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = ar_vlog_text(priority, format, args);
  va_end(args);
  return text;
}

std::string ar_vlog_text(int priority, const char* format, va_list args) {
  const int saved_errno = errno;
  std::string text = format_text(format, args);
  errno = saved_errno;
  ar_log(priority, "%s", text.c_str());
  return text;
}
