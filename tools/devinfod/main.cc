// devinfod: a development stand-in for the appliance's information daemon,
// and the client commands that drive it.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "devinfod/client.h"
#include "devinfod/server.h"

namespace {

const char kUsage[] =
    "usage: devinfod serve --socket PATH [--log FILE|-]\n"
    "       devinfod push --socket PATH KEY VALUE [--number N]\n"
    "       devinfod get --socket PATH KEY\n"
    "       devinfod watch --socket PATH [--count N] [--timeout SECONDS] KEY...\n"
    "\n"
    "serve   serve the infod protocol on the UNIX socket PATH until SIGINT or\n"
    "        SIGTERM; --log writes one line per received frame to FILE\n"
    "        (standard output for -)\n"
    "push    store VALUE under KEY (number N, default 0) and notify subscribers\n"
    "get     print the value of KEY\n"
    "watch   print each update under the KEYs as KEY=VALUE, one per line\n"
    "\n"
    "exit status: 0 done; 1 get found no value, watch saw nothing in time, or\n"
    "serve could not start; 2 bad arguments; 3 infod unreachable or gone\n";

int usage(const char* problem) {
  if (problem != nullptr) fprintf(stderr, "devinfod: %s\n", problem);
  fputs(kUsage, stderr);
  return devinfod::kExitUsage;
}

// Options and positional arguments of one command.
struct Args {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
};

// Splits argv[first..] into options (each taking one value, as "--name
// VALUE" or "--name=VALUE") and positionals; "--" ends the options. Returns
// an error text, empty when the arguments are well formed.
std::string parse_args(int argc, char** argv, int first, const std::set<std::string>& known, Args& out) {
  bool options_done = false;
  for (int i = first; i < argc; i++) {
    std::string arg = argv[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      out.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::string name = arg.substr(2);
    std::string value;
    size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return "option --" + name + " needs a value";
    }
    if (known.count(name) == 0) return "unknown option --" + name;
    if (out.options.count(name) > 0) return "option --" + name + " given twice";
    out.options[name] = value;
  }
  if (out.options.count("socket") == 0 || out.options["socket"].empty()) return "--socket PATH is required";
  return "";
}

// Parses all of text as a decimal integer within [lo, hi].
bool parse_int(const std::string& text, long long lo, long long hi, long long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(nullptr);
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  Args args;
  std::string problem;
  if (command == "serve") {
    problem = parse_args(argc, argv, 2, {"socket", "log"}, args);
    if (problem.empty() && !args.positional.empty()) problem = "serve takes no arguments";
    if (!problem.empty()) return usage(problem.c_str());
    return devinfod::serve(args.options["socket"], args.options.count("log") ? args.options["log"] : "");
  }
  if (command == "push") {
    problem = parse_args(argc, argv, 2, {"socket", "number"}, args);
    long long number = 0;
    if (problem.empty() && args.positional.size() != 2) problem = "push takes KEY and VALUE";
    if (problem.empty() && args.positional[0].empty()) problem = "the key is empty";
    if (problem.empty() && args.options.count("number") &&
        !parse_int(args.options["number"], -2147483648LL, 2147483647LL, number)) {
      problem = "--number takes a 32-bit whole number";
    }
    if (!problem.empty()) return usage(problem.c_str());
    return devinfod::run_push(args.options["socket"], args.positional[0], args.positional[1], number);
  }
  if (command == "get") {
    problem = parse_args(argc, argv, 2, {"socket"}, args);
    if (problem.empty() && (args.positional.size() != 1 || args.positional[0].empty())) problem = "get takes one KEY";
    if (!problem.empty()) return usage(problem.c_str());
    return devinfod::run_get(args.options["socket"], args.positional[0]);
  }
  if (command == "watch") {
    problem = parse_args(argc, argv, 2, {"socket", "count", "timeout"}, args);
    devinfod::WatchOptions options;
    options.keys = args.positional;
    if (problem.empty() && options.keys.empty()) problem = "watch takes at least one KEY";
    for (const std::string& key : options.keys) {
      if (problem.empty() && key.empty()) problem = "a key is empty";
    }
    long long count = 0;
    if (problem.empty() && args.options.count("count") && !parse_int(args.options["count"], 1, 1L << 30, count)) {
      problem = "--count takes a whole number of at least 1";
    }
    options.count = static_cast<long>(count);
    if (problem.empty() && args.options.count("timeout")) {
      const std::string& text = args.options["timeout"];
      char* end = nullptr;
      double s = std::strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !std::isfinite(s) || s <= 0 || s > 86400.0 * 365) {
        problem = "--timeout takes a number of seconds above 0";
      }
      options.timeout_s = s;
    }
    if (!problem.empty()) return usage(problem.c_str());
    return devinfod::run_watch(args.options["socket"], options);
  }
  return usage(("unknown command " + command).c_str());
}
