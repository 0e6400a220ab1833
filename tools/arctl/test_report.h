// What a simulated run did, and how it measures against a test file: the
// mismatches of `arctl test` and the lines of `arctl test --trace`.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "arctl/test_file.h"

enum class RecordKind {
  kUpdate,   // infod sent key, text
  kReply,    // infod answers gets of key with text from now on
  kCommand,  // a control command arrived: text
  kConfig,   // the next load reads the file text (as the test writes it)
  kHup,      // the configuration was read again; text: what it kept and changed
  kRestart,  // the daemon was killed and started again; text: its downtime as the test writes it, "" for none
  kTick,     // the tick ran and changed something: what follows at its time is its doing
  kState,    // rule's reference ref entered the state text
  kValue,    // rule's reference ref published the current value text
  kLog,      // an engine log line text (config.autoresponse.log)
  kSyslog,   // a line of the daemon's own log, text
  kPush,     // another push to infod: key, status (its number) and text, such as an interface command
  kRun,      // program started with args and env
  kExit,     // program ended with status
  kSms,      // a spool file to number with the message text
};

// One thing the simulated daemon did, at ms milliseconds from the start.
// Only the fields of its kind are set.
struct Record {
  int64_t ms = 0;
  RecordKind kind = RecordKind::kUpdate;
  int rule = 0;           // kState, kValue: the rule's number
  std::string rule_name;  // and its name
  int ref = 0;            // and the reference's number
  std::string key;        // kUpdate: the key; kSms: the number
  std::string text;
  std::string program;            // kRun, kExit
  std::vector<std::string> args;  // kRun: the arguments after the program's own name
  std::vector<std::string> env;   // kRun: NAME=VALUE; empty when it inherits the daemon's
  int status = 0;                 // kExit: the exit status; kPush: the number
};

// One line that tells how the run differs from the test.
struct Mismatch {
  int64_t ms = 0;  // when: the step's time, or the record's when nothing expected it
  int line = 0;    // the step's line; 0 for what nothing expected
  std::string text;
};

// Everything in which records (in time order) differ from the expectations
// of test, in time order:
// - runs and SMS are strict: each expect run or expect sms takes one that
//   happened within its time (to the second), in the file's order within
//   the same second; whatever happened up to the last step's second (an
//   end line's, if later) and was not expected is a mismatch too;
// - a state or value is checked after everything at its time happened,
//   within a window at any moment of it; a line of infod's log key, or of
//   the daemon's own log, within its time (one not logged shows the lines
//   logged there around it).
std::vector<Mismatch> compare_run(const TestFile& test, const std::vector<Record>& records);

// The mismatch as printed: "FILE:LINE: at T: what", "FILE: at T: what".
std::string mismatch_line(const TestFile& test, const Mismatch& m);

// Prints records of test as a test file that runs as it stands and expects
// exactly them: test's settings, then the steps, ending where test does
// (what is no step, such as ticks, ended programs and a state left within
// the millisecond it was entered, as comments).
void print_trace(const TestFile& test, const std::vector<Record>& records, std::ostream& out);
