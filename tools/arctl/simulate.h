// The simulated daemon of `arctl test`: the daemon's loader, checks,
// engine, tick and action queue run on a test file's steps under a
// simulated clock, with infod, the spawner and the SMS spool replaced by
// recorders. Nothing is started, written or sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "arctl/test_file.h"
#include "arctl/test_report.h"

// Runs test's configuration through its steps up to the end of the last
// step's second (or the end line's) and fills *records in time order. A
// restart step ends the simulated process as a kill does and starts
// another with what it kept, as the daemon starts: at once, or after its
// downtime, during which the simulated clocks move on and nothing reaches
// the daemon. False with
// *fault as "FILE:LINE: what" when the configuration cannot be read at
// time 0, or a step names a rule or reference no load has.
// With until (milliseconds from the start), the run stops there, and look
// is shown the simulated daemon's engine and queue as they are then.
struct Engine;
class ActionQueue;
using SimulatedLook = std::function<void(Engine& engine, const ActionQueue& queue)>;
bool simulate(const TestFile& test, std::vector<Record>* records, std::string* fault, int64_t until = -1,
              const SimulatedLook& look = {});
