// What `arctl test` simulates of a scenario an end-to-end test drives through the real daemon: the two must agree.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "arctl/simulate.h"
#include "support/e2e.h"
#include "support/zone_guard.h"

namespace e2e {

// Each program's calls as fake() records them, argv[0] left out.
using Simulated = std::map<std::string, Strings>;

// An SNMP DateAndTime stands for the moment it was made, which the two runs do not share.
inline std::string without_time(std::string call) {
  for (size_t i = 0; i + 22 <= call.size(); ++i) {
    if (call.find_first_not_of("0123456789abcdef", i) >= i + 22 && (i == 0 || call[i - 1] == '|')) {
      call.replace(i, 22, "<time>");
    }
  }
  return call;
}

// The config simulated with the updates, one a second, and ten seconds more; paths under root are the appliance's.
inline Simulated simulate_updates(const ConfigBuilder& config, const std::vector<std::pair<std::string, std::string>>& updates,
                                  const std::string& root) {
  const ZoneGuard zone("UTC0");  // the simulation sets the test's zone
  TempDir dir;
  write_file(dir.path() + "/config.xml", config.xml());
  TestFile test;
  test.file = dir.path() + "/t.test";
  test.config = dir.path() + "/config.xml";
  for (size_t i = 0; i < updates.size(); ++i) {
    Step s;
    s.kind = StepKind::kPush;
    s.from = s.until = static_cast<int64_t>(i + 1) * 1000;
    s.key = updates[i].first;
    s.text = updates[i].second;
    test.steps.push_back(s);
  }
  // Two ticks more: what they release is part of the scenario.
  Step end;
  end.kind = StepKind::kExpectLog;
  end.from = end.until = static_cast<int64_t>(updates.size() + 10) * 1000;
  test.steps.push_back(end);
  std::vector<Record> records;
  std::string fault;
  EXPECT_TRUE(simulate(test, &records, &fault)) << fault;
  Simulated out;
  for (const Record& r : records) {
    if (r.kind != RecordKind::kRun) continue;
    std::string program = r.program, call;
    if (program.compare(0, root.size(), root) == 0) program.erase(0, root.size());
    for (const std::string& a : r.args) call += "|" + a;
    out[program].push_back(without_time(call));
  }
  return out;
}

// The calls box's stand-in at relative recorded, argv[0] left out.
inline Strings real_calls(const Sandbox& box, const std::string& relative) {
  Strings calls;
  std::istringstream in(box.calls(relative));
  for (std::string line; std::getline(in, line);) calls.push_back(without_time(line.substr(line.find('|'))));
  return calls;
}

// The lines of the file at path.
inline Strings lines_in(const std::string& path) {
  Strings lines;
  std::istringstream in(read_file(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// What the daemon in box pushed of each rule's first reference, in order, as "N STATE" (N the rule's number).
inline Strings published_states(const Sandbox& box) {
  const std::string head = "<- push config.autoresponse.autoresponse", tail = ".refs.ref1.status 2 ";
  Strings states;
  for (const std::string& line : lines_in(box.infod.log)) {
    const size_t at = line.find(tail);
    if (line.rfind(head, 0) == 0 && at != std::string::npos) {
      states.push_back(line.substr(head.size(), at - head.size()) + " " + line.substr(at + tail.size()));
    }
  }
  return states;
}

// What arctl test simulates of a test's text, in a directory of its own that holds files (name and contents): the
// states of each rule's first reference as published_states() has them, and each run's first argument, in order.
struct SimulatedRun {
  Strings states, runs;
};
inline SimulatedRun simulate_test(const std::map<std::string, std::string>& files, const std::string& text) {
  const ZoneGuard zone("UTC0");  // the simulation sets the test's zone
  TempDir dir;
  for (const auto& [name, contents] : files) write_file(dir.path() + "/" + name, contents);
  TestFile test;
  std::vector<Record> records;
  std::string fault;
  EXPECT_TRUE(parse_test_file(dir.path() + "/t.test", text, &test, &fault) && simulate(test, &records, &fault))
      << fault;
  SimulatedRun seen;
  for (const Record& r : records) {
    if (r.kind == RecordKind::kState && r.ref == 1) seen.states.push_back(std::to_string(r.rule) + " " + r.text);
    if (r.kind == RecordKind::kRun) seen.runs.push_back(r.args.empty() ? "" : r.args[0]);
  }
  return seen;
}

}  // namespace e2e
