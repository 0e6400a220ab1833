// The test files of `arctl test`: one step a line, read into a TestFile.
// Reading says nothing about the configuration the file names; the
// simulator judges rule names against it.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

enum class StepKind {
  kPush,         // at T push KEY VALUE
  kReply,        // at T reply KEY VALUE
  kCommand,      // at T command TEXT
  kHup,          // at T hup
  kConfig,       // at T config PATH: the file the next hup or restart reads
  kRestart,      // at T restart [after D]: stops at T, starts again at T + D
  kEnd,          // at T end: the test runs to T's second whatever its last step
  kExpectState,  // at T expect state RULE REF STATE
  kExpectValue,  // at T expect value RULE REF TEXT
  kExpectRun,    // at T expect run PROGRAM [ARG...], with its env lines
  kExpectSms,    // at T expect sms NUMBER TEXT
  kExpectLog,    // at T expect log TEXT: a line of infod's log key
  kExpectSyslog, // at T expect syslog TEXT: a line of the daemon's own log
};

// One "expect env NAME=VALUE" line of a run.
struct EnvExpectation {
  int line = 0;
  std::string name;
  std::string value;
};

struct Step {
  int line = 0;
  StepKind kind = StepKind::kPush;
  // Milliseconds from the start: the time, or the window [from, until] of
  // "at A..B" (from == until for a plain time).
  int64_t from = 0;
  int64_t until = 0;
  std::string when;  // the time as written, for messages
  std::string key;   // push and reply: the key; expect state/value: RULE; expect sms: NUMBER; config: PATH as read
  int ref = 0;       // expect state/value: REF
  std::string text;  // the rest: value, command, state, current value, message, log line or config PATH as written
  std::vector<std::string> words;    // expect run: the program and its arguments
  std::vector<EnvExpectation> env;   // expect run: its env lines
  int64_t after = 0;  // restart: how long the daemon is down, in milliseconds
};

// "program PATH exits N [after S]".
struct ProgramEnd {
  int line = 0;
  std::string path;
  int status = 0;
  int64_t after = 0;  // milliseconds
};

struct TestFile {
  std::string file;     // as given on the command line
  std::string config;   // the configuration, relative to the test file's folder already
  std::string config_written;  // and as the file writes it
  int config_line = 0;
  // The wall clock at time 0, as written, and its zone.
  std::string clock = "2027-01-04 00:00:00";
  std::string zone = "UTC";
  int clock_line = 0;
  std::string hostname = "appliance";
  std::vector<ProgramEnd> programs;
  // In the file's order, a series as its pushes. The inputs (push, reply,
  // command, config, hup, restart) are in time order, a series by its
  // first push; expectations may stand anywhere.
  std::vector<Step> steps;

  // Milliseconds from the start to the latest time of a step (a window's
  // end, an end line).
  int64_t last() const;
};

// Whether the step is something the daemon gets (an input) rather than an
// expectation or the end.
bool is_input(const Step& step);

// The latest time a step may have, in milliseconds: 10000h, some 14 months. A
// stretch with a disable schedule or a repeating rule is simulated tick by
// tick, so a later one could run for hours.
constexpr int64_t kLastStepTime = 10000LL * 3600 * 1000;

// The states of an expect state line, as the daemon names them.
extern const char* const kStateNames[5];

// Reads text, the content of file, into *test. False with the fault in
// *fault as "FILE:LINE: what".
bool parse_test_file(const std::string& file, const std::string& text, TestFile* test, std::string* fault);

// Reads the file from disk, then as parse_test_file.
bool read_test_file(const std::string& file, TestFile* test, std::string* fault);

// Milliseconds of a time of the file ("30", "1.5", "90s", "2m", "1.25h");
// false for anything else, or a time finer than a millisecond.
bool parse_test_time(const std::string& text, int64_t* ms);

// Seconds as a test file writes them: "30", "30.5", "0.125".
std::string format_test_time(int64_t ms);

// Splits text into words as a shell does with quotes ('...' keeps all,
// "..." keeps all but \" \\ \$ \`), without expanding anything; false with
// *fault for an unfinished quote.
bool split_words(const std::string& text, std::vector<std::string>* words, std::string* fault);

// word as split_words reads it back: unchanged when it needs no quotes.
std::string quote_word(const std::string& word);

// The number of the rule an expect line's RULE names by number; nullopt
// when RULE is a name. A number too long for any rule is 0, which no rule
// has.
std::optional<int> rule_number(const std::string& rule);

// The wall clock at time 0 of test: sets TZ to its zone for this process
// (local time follows the zone from then on) and converts. False with
// *fault when the zone is not in the tz database or the local time does not
// exist in it (skipped by a daylight-saving change).
bool start_wall_clock(const TestFile& test, time_t* wall, std::string* fault);
