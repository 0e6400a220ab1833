// arctl: the administrator's tool beside the daemon. One command per file
// of cmd/, each ending in its descriptor: its name, its options as rows and
// its run function; arctl parses the options from the rows and writes the
// synopsis and help from them.
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
  std::vector<std::string> words{};  // the arguments that are no options
  std::ostream& out;
  std::ostream& err;
  std::string socket{};              // --socket, or infod's own socket
  std::optional<std::string> pid_file{};  // --pid-file PATH
  bool json = false;                    // --json
  bool follow = false;                  // -f
  bool trace = false;                   // --trace
  bool dry_run = false;                 // --dry-run
  bool force = false;                   // --force
  std::optional<std::string> strict{};    // --strict ("") or --strict=all ("all")
  std::optional<std::string> as{};        // --as NAME
  std::optional<std::string> syslog{};    // --syslog FILE
  std::optional<std::string> lines{};     // -n N, --lines N: judged by the command
  std::optional<std::string> ref{};       // --ref N: judged by the command
  std::optional<std::string> duration{};  // --for DURATION: judged by the command
  std::optional<std::string> reason{};    // --reason TEXT
  std::optional<std::string> format{};    // --format NAME: judged by the command
  std::optional<std::string> explain{};   // --explain RULE
};

// One option a command takes, as its help and synopsis show it and where
// its value goes: "--NAME" (and "-L" for its letter), a flag, or followed by
// its PLACEHOLDER's value ("--NAME VALUE", "--NAME=VALUE", "-L VALUE",
// "-LVALUE"), or "--NAME" or "--NAME=WORD" for a placeholder "[=WORD]".
struct OptionRow {
  const char* name = nullptr;
  char letter = '\0';
  const char* placeholder = nullptr;  // null for a flag
  const char* help = nullptr;         // its lines in the command's help; '\n' between them
  bool Invocation::*flag = nullptr;
  std::optional<std::string> Invocation::*value = nullptr;
  std::string Invocation::*replaces = nullptr;  // a value in place of a default
  bool may_be_empty = false;  // an empty value is judged by the command, not refused
  bool required = false;      // shown without brackets in the synopsis
  // Shown in the synopsis in place of "--NAME PLACEHOLDER"; "" hides it.
  const char* shown = nullptr;
  // Consecutive rows of one group exclude each other: "[--a | --b]".
  int group = 0;
};

// The rows most commands that reach the daemon share.
extern const OptionRow kSocketOption;   // --socket PATH
extern const OptionRow kPidFileOption;  // --pid-file PATH

struct Command {
  const char* name = nullptr;
  const char* summary = nullptr;      // one line for arctl --help
  std::vector<OptionRow> options{};   // in the order synopsis and help show them
  const char* arguments = "";         // after the options in the synopsis, as in "[FILE]"
  const char* description = nullptr;  // its help above the options
  const char* exit_status = nullptr;  // its help below them
  size_t min_words = 0;
  size_t max_words = 0;
  int (*run)(Invocation& invocation) = nullptr;
  // The synopsis, for a command whose forms take different arguments;
  // otherwise it is written from the rows and the arguments.
  const char* synopsis = nullptr;
};

// "[--socket PATH] [--json] RULE", and what `arctl NAME --help` prints.
std::string synopsis_of(const Command& command);
std::string help_of(const Command& command);

// The daemon's pid file that --pid-file names, else the appliance's.
std::string pid_file_of(const Invocation& invocation);

extern const Command kCheckCommand;      // cmd/check.cc
extern const Command kStatusCommand;     // cmd/status.cc
extern const Command kCancelCommand;     // cmd/cancel.cc
extern const Command kSilenceCommand;    // cmd/silence.cc
extern const Command kSilencesCommand;   // cmd/silences.cc
extern const Command kUnsilenceCommand;  // cmd/unsilence.cc
extern const Command kLogCommand;        // cmd/log.cc
extern const Command kReloadCommand;     // cmd/reload.cc
extern const Command kTestCommand;       // cmd/test.cc
extern const Command kExplainCommand;    // cmd/explain.cc

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
