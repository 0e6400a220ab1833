// `arctl test FILE...`: rules tried under simulated time, against what
// each test file expects; `arctl test --trace FILE`: the simulated run, as
// a test.
#include "arctl/arctl.h"
#include "arctl/simulate.h"
#include "arctl/test_file.h"
#include "arctl/test_report.h"

namespace {

enum class Verdict { kPass, kFail, kUnreadable };

// Reads and simulates file; says on err why it cannot be.
Verdict simulate_file(const std::string& file, TestFile* test, std::vector<Record>* records, std::ostream& err) {
  std::string fault;
  if (!read_test_file(file, test, &fault) || !simulate(*test, records, &fault)) {
    err << "arctl: " << fault << "\n";
    return Verdict::kUnreadable;
  }
  return Verdict::kPass;
}

int run_test(Invocation& inv) {
  if (inv.trace) {
    if (inv.words.size() != 1) return usage_error(inv.err, "--trace takes one FILE", &kTestCommand);
    TestFile test;
    std::vector<Record> records;
    if (simulate_file(inv.words[0], &test, &records, inv.err) == Verdict::kUnreadable) return 2;
    print_trace(test, records, inv.out);
    return 0;
  }
  size_t passed = 0, failed = 0, unreadable = 0;
  for (const std::string& file : inv.words) {
    TestFile test;
    std::vector<Record> records;
    if (simulate_file(file, &test, &records, inv.err) == Verdict::kUnreadable) {
      ++unreadable;
      continue;
    }
    const std::vector<Mismatch> mismatches = compare_run(test, records);
    inv.out << (mismatches.empty() ? "PASS " : "FAIL ") << file << "\n";
    for (const Mismatch& m : mismatches) inv.out << mismatch_line(test, m) << "\n";
    ++(mismatches.empty() ? passed : failed);
  }
  inv.out << inv.words.size() << (inv.words.size() == 1 ? " test: " : " tests: ") << passed << " passed, " << failed
          << " failed";
  if (unreadable > 0) inv.out << ", " << unreadable << " could not be read";
  inv.out << "\n";
  return unreadable > 0 ? 2 : failed > 0 ? 1 : 0;
}

}  // namespace

const Command kTestCommand = {
    "test",
    "[--trace] FILE...",
    "try the rules under simulated time",
    "Runs the configuration a test file names through the file's steps\n"
    "(updates from infod, control commands, reloads, restarts) under a\n"
    "simulated clock, with the daemon's own loader, checks, engine and action\n"
    "queue; nothing is started, written or sent. Prints PASS FILE, or FAIL\n"
    "FILE and one line per mismatch, for each file, then a summary. Every\n"
    "program started and every SMS written up to the last step (or the end\n"
    "line) must be expected. With --trace, prints the whole simulated run of\n"
    "one FILE as a test that runs as it stands, to copy lines from.\n"
    "See arctl(8) for the lines of a test file.\n"
    "\n"
    "Exit status: 0 every test passed, 1 a test failed, 2 a test file or its\n"
    "configuration cannot be read (the file and line are given).\n",
    kOptionTrace,
    1,
    static_cast<size_t>(-1),
    run_test,
};
