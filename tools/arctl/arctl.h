// arctl: the administrator's tool beside the daemon. One command per
// source file, each a row of the command table.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Which warnings make `arctl check` fail (--strict, --strict=all).
enum class Strictness {
  kOff,       // none: only errors fail
  kWarnings,  // every warning but those that only say this is not the appliance
  kAll,       // every warning
};

// What a command is run with, its options already parsed.
struct Invocation {
  std::vector<std::string> words;  // the arguments that are no options
  std::string socket;              // --socket, or infod's own socket
  bool follow = false;             // -f
  std::optional<std::string> as;   // --as NAME
  std::optional<std::string> syslog;  // --syslog FILE
  std::optional<std::string> pid_file;  // --pid-file PATH
  bool trace = false;                 // --trace
  std::ostream& out;
  std::ostream& err;
  Strictness strict = Strictness::kOff;  // --strict[=all]
  bool json = false;                     // --json
  std::optional<std::string> lines;      // -n N, --lines N: judged by the command
  std::optional<std::string> ref;        // --ref N: judged by the command
  std::optional<std::string> duration;   // --for DURATION: judged by the command
  std::optional<std::string> reason;     // --reason TEXT
  std::optional<std::string> format;     // --format NAME: judged by the command
  bool dry_run = false;                  // --dry-run
  bool force = false;                    // --force
  std::optional<std::string> explain;    // --explain RULE
};

struct Command {
  const char* name;
  const char* synopsis;  // the arguments, as in "[FILE]"
  const char* summary;   // one line for arctl --help
  const char* help;      // what `arctl NAME --help` prints below its usage line
  unsigned options;      // kOption... bits it takes
  size_t min_words;
  size_t max_words;
  int (*run)(Invocation& invocation);
};

constexpr unsigned kOptionSocket = 1;  // --socket PATH
constexpr unsigned kOptionFollow = 2;  // -f, --follow
constexpr unsigned kOptionAs = 4;      // --as NAME
constexpr unsigned kOptionSyslog = 8;  // --syslog FILE
constexpr unsigned kOptionTrace = 16;  // --trace
constexpr unsigned kOptionPidFile = 32;  // --pid-file PATH
constexpr unsigned kOptionStrict = 64;   // --strict, --strict=all
constexpr unsigned kOptionJson = 128;    // --json
constexpr unsigned kOptionLines = 256;   // -n N, --lines N
constexpr unsigned kOptionRef = 512;     // --ref N
constexpr unsigned kOptionFor = 1024;    // --for DURATION
constexpr unsigned kOptionReason = 2048;  // --reason TEXT
constexpr unsigned kOptionFormat = 4096;  // --format NAME
constexpr unsigned kOptionDryRun = 8192;   // --dry-run
constexpr unsigned kOptionForce = 16384;   // --force
constexpr unsigned kOptionExplain = 32768;  // --explain RULE

// The daemon's pid file that --pid-file names, else the appliance's.
std::string pid_file_of(const Invocation& invocation);

extern const Command kCheckCommand;   // check.cc
extern const Command kStatusCommand;  // status.cc
extern const Command kCancelCommand;  // cancel.cc
extern const Command kSilenceCommand;    // silence.cc
extern const Command kSilencesCommand;   // silences.cc
extern const Command kUnsilenceCommand;  // unsilence.cc
extern const Command kLogCommand;     // log.cc
extern const Command kReloadCommand;  // reload.cc
extern const Command kTestCommand;    // test.cc
extern const Command kExplainCommand;  // explain.cc

// How `arctl check` reports and what fails it.
struct CheckOptions {
  Strictness strict = Strictness::kOff;
  bool json = false;  // one JSON object on out instead of lines for people
  bool gcc = false;   // "FILE:LINE:COL: error: ..." lines, as compilers write them
};

// What `arctl check FILE` does: the findings on out, a file that cannot be
// read or parsed on err (and, as JSON, on out too); its exit status (0 no
// error, 1 errors or warnings that options make fail, 2 unreadable).
int check_configuration(const std::string& file, std::ostream& out, std::ostream& err,
                        const CheckOptions& options = {});

// A command line that is not understood: says problem and the usage of
// command (of arctl when null) on err; returns 2.
int usage_error(std::ostream& err, const std::string& problem, const Command* command);

// Runs the command line args (without the program name). Returns the exit
// status: 2 for a command line that is not understood.
int arctl_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
