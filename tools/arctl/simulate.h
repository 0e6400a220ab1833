// The simulated daemon of `arctl test`: the daemon's loader, checks,
// engine, tick and action queue run on a test file's steps under a
// simulated clock, with infod, the spawner and the SMS spool replaced by
// recorders. Nothing is started, written or sent.
#pragma once

#include <string>
#include <vector>

#include "arctl/test_file.h"
#include "arctl/test_report.h"

// Runs test's configuration through its steps up to the end of the last
// step's second and fills *records in time order. False with *fault as
// "FILE:LINE: what" when the configuration cannot be read, or a step names
// a rule or reference it does not have.
bool simulate(const TestFile& test, std::vector<Record>* records, std::string* fault);
