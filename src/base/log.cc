// The log category, its appender and ar_log.
#include "base/log.h"

#include <cerrno>
#include <cstdarg>
#include <string>

#include <log4c.h>
#include <log4c/appender_type_stream.h>
#include <log4c/appender_type_syslog.h>

namespace {

log4c_category_t* g_category = nullptr;
log4c_appender_t* g_appender = nullptr;
LogObserver g_observer = nullptr;
void* g_observer_data = nullptr;

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
  g_appender = log4c_appender_new(name);
  if (sink == LogSink::Syslog) {
    log4c_appender_set_type(g_appender, &log4c_appender_type_syslog);
  } else {
    log4c_appender_set_type(g_appender, &log4c_appender_type_stream);
    log4c_appender_set_udata(g_appender, stderr);
  }
  log4c_category_set_appender(g_category, g_appender);
  log4c_category_set_priority(g_category, kLogInfo);
}

void log_close() {
  if (g_category != nullptr) log4c_category_delete(g_category);
  if (g_appender != nullptr) log4c_appender_delete(g_appender);
  g_category = nullptr;
  g_appender = nullptr;
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
    if (g_category != nullptr) category_log(priority, "%s", line.c_str());
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
