// The command table and the parsing of the command line.
#include "arctl/arctl.h"

#include <cstring>

#include "arctl/config_tree.h"
#include "arctl/infod.h"

namespace {

const Command* const kCommands[] = {&kCheckCommand, &kTestCommand, &kStatusCommand, &kReloadCommand, &kCancelCommand,
                                     &kSilenceCommand, &kSilencesCommand, &kUnsilenceCommand, &kLogCommand,
                                     &kExplainCommand};

const char kIntro[] =
    "Checks the configuration of autoresponsed, tries its rules under simulated\n"
    "time, shows the state of its rules and steers them through infod.\n";

const char kOutro[] =
    "\n"
    "The configuration is FILE, else $XMLDB_PATH, else /etc/config/config.xml.\n"
    "PATH is infod's socket, by default /var/run/infod-sock.\n"
    "With AR_ROOT set, the development daemon's root, these defaults and the\n"
    "pid file /var/run/autoresponsed.pid lie under it.\n"
    "'arctl COMMAND --help' tells more about a command; see also arctl(8).\n";

// The options that take a value, as "--NAME VALUE" or "--NAME=VALUE", and
// those with a letter as "-L VALUE" or "-LVALUE" too.
struct ValueOption {
  const char* name;
  char letter;  // '\0' for none
  unsigned bit;
  std::optional<std::string> Invocation::*value;
  const char* placeholder;
};

const ValueOption kValueOptions[] = {
    {"as", '\0', kOptionAs, &Invocation::as, "NAME"},  // the name itself is judged by the command
    {"syslog", '\0', kOptionSyslog, &Invocation::syslog, "FILE"},
    {"pid-file", '\0', kOptionPidFile, &Invocation::pid_file, "PATH"},
    {"lines", 'n', kOptionLines, &Invocation::lines, "N"},  // the number is judged by the command
    {"ref", '\0', kOptionRef, &Invocation::ref, "N"},
    {"for", '\0', kOptionFor, &Invocation::duration, "DURATION"},
    {"reason", '\0', kOptionReason, &Invocation::reason, "TEXT"},
    {"format", '\0', kOptionFormat, &Invocation::format, "NAME"},
    {"explain", '\0', kOptionExplain, &Invocation::explain, "RULE"},
};

// An option with its value as one argument a gives: its option, the
// option as it was written and the value when a holds one.
struct ValueGiven {
  const ValueOption* option = nullptr;
  std::string written;
  std::optional<std::string> value;
};

// The value option of command that argument a gives; no option for none.
ValueGiven value_option(const Command& command, const std::string& a) {
  for (const ValueOption& o : kValueOptions) {
    if ((command.options & o.bit) == 0) continue;
    const std::string name = std::string("--") + o.name;
    if (a == name) return {&o, name, std::nullopt};
    if (a.compare(0, name.size() + 1, name + "=") == 0) return {&o, name, a.substr(name.size() + 1)};
    if (o.letter != '\0' && a[0] == '-' && a[1] == o.letter) {
      const std::string letter = a.substr(0, 2);
      return {&o, letter, a.size() > 2 ? std::optional<std::string>(a.substr(2)) : std::nullopt};
    }
  }
  return {};
}

std::string usage_line(const Command& c) { return std::string("arctl ") + c.name + " " + c.synopsis; }

void print_overview(std::ostream& out) {
  out << "usage: arctl COMMAND [OPTIONS] [ARGUMENTS]\n\n" << kIntro << "\ncommands:\n";
  for (const Command* c : kCommands) {
    const std::string head = std::string("  ") + c->name + " " + c->synopsis;
    out << head;
    if (head.size() < 32) {
      out << std::string(32 - head.size(), ' ');
    } else {
      out << "\n" << std::string(32, ' ');
    }
    out << c->summary << "\n";
  }
  out << kOutro;
}

}  // namespace

std::string pid_file_of(const Invocation& inv) { return inv.pid_file.value_or(daemon_paths().pid_file); }

int usage_error(std::ostream& err, const std::string& problem, const Command* c) {
  err << "arctl: " << problem << "\n";
  if (c != nullptr) {
    err << "usage: " << usage_line(*c) << "\n" << "Try 'arctl " << c->name << " --help'.\n";
  } else {
    err << "usage: arctl COMMAND [OPTIONS] [ARGUMENTS]\nTry 'arctl --help'.\n";
  }
  return 2;
}

int arctl_main(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return usage_error(err, "no command given", nullptr);
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    print_overview(out);
    return 0;
  }
  if (args[0] == "--version") {
    out << "arctl " AR_VERSION "\n";
    return 0;
  }
  const Command* command = nullptr;
  for (const Command* c : kCommands) {
    if (args[0] == c->name) command = c;
  }
  if (command == nullptr) {
    if (!args[0].empty() && args[0][0] == '-') return usage_error(err, "unknown option " + args[0], nullptr);
    return usage_error(err, "unknown command " + args[0], nullptr);
  }

  Invocation inv{{}, daemon_paths().infod_socket, false, std::nullopt, std::nullopt, std::nullopt, false, out, err,
                 Strictness::kOff, false, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false, false, std::nullopt};
  bool options_done = false;
  bool socket_given = false;
  bool strict_given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      inv.words.push_back(a);
    } else if (a == "--") {
      options_done = true;
    } else if (a == "--help" || a == "-h") {
      out << "usage: " << usage_line(*command) << "\n\n" << command->help;
      return 0;
    } else if ((command->options & kOptionFollow) != 0 && (a == "-f" || a == "--follow")) {
      inv.follow = true;
    } else if ((command->options & kOptionTrace) != 0 && a == "--trace") {
      inv.trace = true;
    } else if ((command->options & kOptionJson) != 0 && a == "--json") {
      inv.json = true;
    } else if ((command->options & kOptionDryRun) != 0 && a == "--dry-run") {
      inv.dry_run = true;
    } else if ((command->options & kOptionForce) != 0 && a == "--force") {
      inv.force = true;
    } else if ((command->options & kOptionStrict) != 0 && (a == "--strict" || a.compare(0, 9, "--strict=") == 0)) {
      if (strict_given) return usage_error(err, "--strict given twice", command);
      if (a != "--strict" && a != "--strict=all") return usage_error(err, "--strict takes only =all", command);
      inv.strict = a == "--strict" ? Strictness::kWarnings : Strictness::kAll;
      strict_given = true;
    } else if ((command->options & kOptionSocket) != 0 && (a == "--socket" || a.compare(0, 9, "--socket=") == 0)) {
      if (socket_given) return usage_error(err, "--socket given twice", command);
      if (a == "--socket") {
        if (i + 1 == args.size()) return usage_error(err, "--socket needs a PATH", command);
        inv.socket = args[++i];
      } else {
        inv.socket = a.substr(9);
      }
      if (inv.socket.empty()) return usage_error(err, "--socket needs a PATH", command);
      socket_given = true;
    } else if (const ValueGiven given = value_option(*command, a); given.option != nullptr) {
      const ValueOption* o = given.option;
      std::optional<std::string>& value = inv.*(o->value);
      const std::string& name = given.written;
      if (value) return usage_error(err, name + " given twice", command);
      if (!given.value) {
        if (i + 1 == args.size()) return usage_error(err, name + " needs a " + o->placeholder, command);
        value = args[++i];
      } else {
        value = given.value;
      }
      // An empty name is judged by the command; an empty file is no file.
      if (value->empty() && o->bit != kOptionAs) return usage_error(err, name + " needs a " + o->placeholder, command);
    } else {
      return usage_error(err, "unknown option " + a, command);
    }
  }
  if (inv.words.size() < command->min_words) return usage_error(err, "too few arguments", command);
  if (inv.words.size() > command->max_words) return usage_error(err, "too many arguments", command);
  return command->run(inv);
}
