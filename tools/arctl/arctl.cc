// The command table and the parsing of the command line.
#include "arctl/arctl.h"

#include <algorithm>
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

// The row of command's options that argument a gives, with the option as
// it was written and the value a holds when it holds one.
struct OptionGiven {
  const OptionRow* row = nullptr;
  std::string written;
  std::optional<std::string> value;
};

OptionGiven option_given(const Command& command, const std::string& a) {
  for (const OptionRow& o : command.options) {
    const std::string name = std::string("--") + o.name;
    const bool takes_value = o.placeholder != nullptr;
    if (a == name) return {&o, name, std::nullopt};
    if (takes_value && a.compare(0, name.size() + 1, name + "=") == 0) return {&o, name, a.substr(name.size() + 1)};
    if (o.letter != '\0' && a[0] == '-' && a[1] == o.letter) {
      if (!takes_value && a.size() > 2) continue;
      const std::string letter = a.substr(0, 2);
      return {&o, letter, a.size() > 2 ? std::optional<std::string>(a.substr(2)) : std::nullopt};
    }
  }
  return {};
}

// "--strict[=all]" takes its word only after '='.
bool optional_word(const OptionRow& o) { return o.placeholder != nullptr && o.placeholder[0] == '['; }

// "-n N", "--socket PATH", "--strict[=all]": as the synopsis shows the option.
std::string short_form(const OptionRow& o) {
  if (o.shown != nullptr) return o.shown;
  std::string form = o.letter != '\0' ? std::string("-") + o.letter : std::string("--") + o.name;
  if (o.placeholder != nullptr) form += (optional_word(o) ? "" : " ") + std::string(o.placeholder);
  return form;
}

// "-n, --lines N": as the help lists the option.
std::string long_form(const OptionRow& o) {
  std::string form = o.letter != '\0' ? std::string("-") + o.letter + ", " : "";
  form += std::string("--") + o.name;
  if (o.placeholder != nullptr) form += (optional_word(o) ? "" : " ") + std::string(o.placeholder);
  return form;
}

void print_overview(std::ostream& out) {
  out << "usage: arctl COMMAND [OPTIONS] [ARGUMENTS]\n\n" << kIntro << "\ncommands:\n";
  for (const Command* c : kCommands) {
    const std::string head = std::string("  ") + c->name + " " + synopsis_of(*c);
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

const OptionRow kSocketOption = {
    .name = "socket",
    .placeholder = "PATH",
    .help = "infod's socket (default /var/run/infod-sock)",
    .replaces = &Invocation::socket,
};

const OptionRow kPidFileOption = {
    .name = "pid-file",
    .placeholder = "PATH",
    .help = "the daemon's pid file (default /var/run/autoresponsed.pid)",
    .value = &Invocation::pid_file,
};

std::string synopsis_of(const Command& c) {
  if (c.synopsis != nullptr) return c.synopsis;
  std::string out;
  for (size_t i = 0; i < c.options.size(); ++i) {
    const OptionRow& o = c.options[i];
    if (o.shown != nullptr && *o.shown == '\0') continue;
    std::string item = short_form(o);
    while (o.group != 0 && i + 1 < c.options.size() && c.options[i + 1].group == o.group) {
      item += " | " + short_form(c.options[++i]);
    }
    out += (out.empty() ? "" : " ") + (o.required ? item : "[" + item + "]");
  }
  if (*c.arguments != '\0') out += (out.empty() ? "" : " ") + std::string(c.arguments);
  return out;
}

std::string help_of(const Command& c) {
  std::string out = c.description;
  size_t width = 0;
  for (const OptionRow& o : c.options) width = std::max(width, long_form(o).size());
  if (!c.options.empty()) out += "\n";
  for (const OptionRow& o : c.options) {
    const std::string form = long_form(o);
    out += "  " + form + std::string(width + 3 - form.size(), ' ');
    for (const char* line = o.help; *line != '\0';) {
      const char* end = strchr(line, '\n');
      const size_t n = end != nullptr ? static_cast<size_t>(end - line) : strlen(line);
      if (line != o.help) out += std::string(width + 5, ' ');
      out.append(line, n);
      out += "\n";
      line += n + (end != nullptr ? 1 : 0);
    }
  }
  return out + "\n" + c.exit_status;
}

std::string pid_file_of(const Invocation& inv) { return inv.pid_file.value_or(daemon_paths().pid_file); }

int usage_error(std::ostream& err, const std::string& problem, const Command* c) {
  err << "arctl: " << problem << "\n";
  if (c != nullptr) {
    err << "usage: arctl " << c->name << " " << synopsis_of(*c) << "\n" << "Try 'arctl " << c->name << " --help'.\n";
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

  Invocation inv{.out = out, .err = err, .socket = daemon_paths().infod_socket};
  bool options_done = false;
  std::vector<const OptionRow*> given;  // the rows given so far: a value is given once
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      inv.words.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      out << "usage: arctl " << command->name << " " << synopsis_of(*command) << "\n\n" << help_of(*command);
      return 0;
    }
    const OptionGiven option = option_given(*command, a);
    const OptionRow* o = option.row;
    if (o == nullptr) return usage_error(err, "unknown option " + a, command);
    if (o->flag != nullptr) {
      inv.*(o->flag) = true;
      continue;
    }
    const std::string& name = option.written;
    if (std::find(given.begin(), given.end(), o) != given.end()) return usage_error(err, name + " given twice", command);
    given.push_back(o);
    std::string value;
    if (optional_word(*o)) {
      const std::string word(o->placeholder + 2, strlen(o->placeholder) - 3);  // "[=all]": "all"
      if (option.value && *option.value != word) return usage_error(err, name + " takes only =" + word, command);
      value = option.value.value_or("");
    } else {
      if (!option.value && i + 1 == args.size()) return usage_error(err, name + " needs a " + o->placeholder, command);
      value = option.value ? *option.value : args[++i];
      // An empty name is judged by the command; an empty file is no file.
      if (value.empty() && !o->may_be_empty) return usage_error(err, name + " needs a " + o->placeholder, command);
    }
    if (o->replaces != nullptr) {
      inv.*(o->replaces) = value;
    } else {
      inv.*(o->value) = value;
    }
  }
  if (inv.words.size() < command->min_words) return usage_error(err, "too few arguments", command);
  if (inv.words.size() > command->max_words) return usage_error(err, "too many arguments", command);
  return command->run(inv);
}
