// The daemon's logging: one log4c category named after the program, with
// one appender, at priority 600. Priorities are log4c's numbers: 0 fatal
// and configuration errors, 300 errors, 400 warnings, 600 information,
// 700 debugging (never emitted at the fixed level).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

constexpr int kLogFatal = 0;
constexpr int kLogError = 300;
constexpr int kLogWarn = 400;
constexpr int kLogInfo = 600;
constexpr int kLogDebug = 700;

enum class LogSink {
  Syslog,  // the appliance
  Stderr,  // development builds and tests
};

// Creates the category and its appender, both named name, at priority 600.
void log_open(const char* name, LogSink sink);

// Deletes the category and the appender; later ar_log calls do nothing.
void log_close();

// Logs one message when priority is at or below the category's chained
// priority, escaped (log_escape). Keeps errno as it was and flushes all
// standard I/O afterwards.
void ar_log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Appends text to out as a log line shows it: every C0 control byte but RS
// (0x1E, infod's field separator) as \xHH, in lower-case hexadecimal, so
// that no outside text (a command's origin, a value, a key) can break a
// line or forge one; '%', blanks, other bytes and UTF-8 stay as they are.
void log_escape(std::string* out, std::string_view text);

// Whether log_escape writes byte c as an escape, and how long one is.
inline bool log_escaped(unsigned char c) { return c < 0x20 && c != 0x1e; }
constexpr size_t kLogEscapeSize = 4;

// The text format and args make, of any length.
std::string format_text(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Logs as ar_log does and returns the message, whatever the priority and
// not escaped: for callers that keep beside the log what they said in it.
std::string ar_log_text(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string ar_vlog_text(int priority, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

// Test hook: every message that passes the priority test is also handed to
// the observer (null to stop), escaped as logged. The daemon itself sets
// none.
using LogObserver = void (*)(int priority, const char* message, void* data);
void log_set_observer(LogObserver observer, void* data);
