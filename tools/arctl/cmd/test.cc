// `arctl test FILE...`: rules tried under simulated time, against what
// each test file expects; `arctl test --trace FILE`: the simulated run, as
// a test.
#include "arctl/arctl.h"
#include "arctl/explain.h"
#include "arctl/simulate.h"
#include "arctl/test_file.h"
#include "arctl/test_report.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "engine/engine.h"

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

// What explain tells of rule RULE in the simulated run of FILE at AT.
int explain_at(Invocation& inv) {
  if (inv.words.size() != 2) return usage_error(inv.err, "--explain RULE takes AT and one FILE", &kTestCommand);
  int64_t at = 0;
  if (!parse_test_time(inv.words[0], &at)) {
    return usage_error(inv.err, "\"" + inv.words[0] + "\" is no time of a test: seconds such as 30 or 1.5, or with s, m or h",
                       &kTestCommand);
  }
  TestFile test;
  std::string fault;
  std::vector<Record> records;
  bool found = false;
  const std::string& word = *inv.explain;
  const auto look = [&](Engine& engine, const ActionQueue& queue) {
    if (engine.checks == nullptr) return;
    for (const ArCheck& check : *engine.checks) {
      const AutoResponse& ar = *check.conf.ar;
      if (ar.name != word && std::to_string(ar.index) != word && ar.path() != word) continue;
      uint32_t ref = 0;
      if (inv.ref && !inv.ref->empty() && inv.ref->find_first_not_of("0123456789") == std::string::npos) {
        ref = static_cast<uint32_t>(std::stoul(*inv.ref));
      }
      const ExplainedRule rule = explain_engine(engine, queue, check, ref);
      inv.json ? print_explanation_json(inv.out, rule) : print_explanation(inv.out, rule);
      found = true;
      return;
    }
  };
  if (!read_test_file(inv.words[1], &test, &fault) || !simulate(test, &records, &fault, at, look)) {
    inv.err << "arctl: " << fault << "\n";
    return 2;
  }
  if (!found) {
    inv.err << "arctl: at " << format_test_time(at) << " the simulated daemon runs no rule " << word << "\n";
    return 1;
  }
  return 0;
}

int run_test(Invocation& inv) {
  if (inv.explain) return explain_at(inv);
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
    .name = "test",
    .summary = "try the rules under simulated time",
    .options =
        {
            {.name = "trace", .help = "print the whole simulated run of one FILE", .flag = &Invocation::trace},
            {.name = "explain",
             .placeholder = "RULE",
             .help = "tell what 'arctl explain' tells of RULE at AT",
             .value = &Invocation::explain},
            {.name = "ref", .placeholder = "N", .help = "with --explain, reference N alone", .value = &Invocation::ref},
            {.name = "json", .help = "with --explain, one JSON object for programs", .flag = &Invocation::json},
        },
    .description =
        "Runs the configuration a test file names through the file's steps\n"
        "(updates from infod, control commands, reloads, restarts) under a\n"
        "simulated clock, with the daemon's own loader, checks, engine and action\n"
        "queue; nothing is started, written or sent. Prints PASS FILE, or FAIL\n"
        "FILE and one line per mismatch, for each file, then a summary. Every\n"
        "program started and every SMS written up to the last step (or the end\n"
        "line) must be expected. With --trace, prints the whole simulated run of\n"
        "one FILE as a test that runs as it stands, to copy lines from. With\n"
        "--explain RULE AT, runs FILE up to AT and tells what 'arctl explain'\n"
        "tells of the rule then.\n"
        "See arctl(8) for the lines of a test file.\n",
    .exit_status =
        "Exit status: 0 every test passed, 1 a test failed, 2 a test file or its\n"
        "configuration cannot be read (the file and line are given).\n",
    .min_words = 1,
    .max_words = static_cast<size_t>(-1),
    .run = run_test,
    .synopsis = "[--trace] FILE... | --explain RULE [--ref N] [--json] AT FILE",
};
