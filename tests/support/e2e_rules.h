// Shared pieces of the end-to-end tests of actions, checks and SNMP alerts:
// a stand-in for the appliance's programs that records its exact argument
// vector, a rule builder, the infod lines a rule publishes, and the orderly
// end of a sandboxed daemon.
#pragma once

#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/rules.h"

extern char** environ;

namespace e2e {

// A shell script cannot see its own argv[0] (the kernel puts the script's
// path there), so the stand-in is this test binary, linked in under the
// program's path. Started under a path that has a ".fake" file beside it,
// the binary appends one line to path + ".calls" before any test runs and
// exits 0: the arguments joined by '|', then, when the ".fake" file says
// "env", every environment entry the program received.
inline bool record_fake_call() {
  const auto* execfn = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (execfn == nullptr) return false;
  const std::string self = execfn;
  const int marker = open((self + ".fake").c_str(), O_RDONLY | O_CLOEXEC);
  if (marker < 0) return false;
  char mode[4] = {};
  const bool with_env = read(marker, mode, 3) == 3 && std::string(mode) == "env";
  close(marker);
  std::string args;
  const int cmdline = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  char buf[4096];
  for (ssize_t n; (n = read(cmdline, buf, sizeof buf)) > 0;) args.append(buf, static_cast<size_t>(n));
  close(cmdline);
  // Every argument ends in a NUL, an empty one included.
  std::string line;
  for (size_t start = 0, end; (end = args.find('\0', start)) != std::string::npos; start = end + 1) {
    line += (start == 0 ? "" : "|") + args.substr(start, end - start);
  }
  for (char** e = environ; with_env && *e != nullptr; ++e) line += std::string("|") + *e;
  line += '\n';
  const int out = open((self + ".calls").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const bool written = out >= 0 && write(out, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  _exit(written ? 0 : 3);
}

// Runs in every process of the test binary before main; returns only when
// the process is not a stand-in.
inline const bool kFakeCallRecorder = record_fake_call();

// Puts the recording stand-in at relative (for example "/bin/ioc") in box.
inline void fake(const Sandbox& box, const std::string& relative, bool record_env = false) {
  char self[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  ASSERT_EQ(symlink(self, box.path(relative).c_str()), 0) << relative;
  write_file(box.path(relative) + ".fake", record_env ? "env" : "-");
}

// Sets rule n's name and check type and each (key, value) under its path.
inline void add_rule(ConfigBuilder& c, int n, const std::string& name, const std::string& check_type,
                     const std::vector<std::pair<std::string, std::string>>& settings) {
  c.set(rule_path(n) + ".name", name).set(rule_path(n) + ".check_type", check_type);
  for (const auto& [key, value] : settings) c.set(rule_path(n) + "." + key, value);
}

// The frame-log line of rule n's first reference entering state.
inline std::string state_line(int n, const std::string& state) {
  return "<- push " + rule_path(n) + ".refs.ref1.status 2 " + state;
}

// The frame-log line of a line pushed to the engine's log key.
inline std::string log_line(const std::string& text) { return "<- push config.autoresponse.log 0 " + text; }

// Ends the daemon by taking infod away: it must leave with status 1 and
// without a sanitizer report in its log.
inline void expect_clean_end(Sandbox& box) {
  box.infod().stop();
  EXPECT_EQ(box.daemon_exit(20000), 1);
  const std::string log = box.daemon_log();
  EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log.substr(0, 4000);
  EXPECT_EQ(log.find("runtime error"), std::string::npos) << log.substr(0, 4000);
}

}  // namespace e2e
