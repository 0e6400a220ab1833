// The daemon's logging: one log4c category named after the program, with
// one appender, at priority 600. Priorities are log4c's numbers: 0 fatal
// and configuration errors, 300 errors, 400 warnings, 600 information,
// 700 debugging (never emitted at the fixed level).
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

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
// priority. Keeps errno as it was and flushes all standard I/O afterwards.
void ar_log(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The text format and args make, of any length.
std::string format_text(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// Logs as ar_log does and returns the message, whatever the priority: for
// callers that keep beside the log what they said in it.
std::string ar_log_text(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string ar_vlog_text(int priority, const char* format, va_list args) __attribute__((format(printf, 2, 0)));

// Test hook: every message that passes the priority test is also handed to
// the observer (null to stop). The daemon itself sets none.
using LogObserver = void (*)(int priority, const char* message, void* data);
void log_set_observer(LogObserver observer, void* data);
