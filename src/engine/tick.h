// The 5-second tick: disable schedules, the end of Timeout, and the due
// (delayed and repeated) actions of Triggered and Resolving references.
#pragma once

#include <ctime>

struct AutoResponse;
struct Engine;
struct DisableWindow;

constexpr int kTickSeconds = 5;

// One pass over every ArCheck (stopped by a fatal error), then the action
// time-outs.
void engine_tick(Engine& engine);

// Whether every tick from now on changes nothing until an update, a
// control command, a reload or a child's end arrives: no silence waits to
// end, no rule has a disable schedule, no reference waits for a time (a delayed or repeated
// action, the end of Resolving or Timeout) and no running action can time
// out or still awaits its SIGKILL. `arctl test` skips such ticks.
bool engine_tick_idle(const Engine& engine);

// Whether hour:minute lies inside the window, both ends included to the
// minute. Windows do not wrap past midnight; an empty window never matches.
bool disable_window_contains(const DisableWindow& window, int hour, int minute);

// Whether the rule has a schedule whose window of local's weekday holds
// local's time.
bool disable_window_open(const AutoResponse& ar, const tm& local);

// The engine's wall clock in local time, the zone read afresh; false when
// it cannot be broken down.
bool engine_local_time(Engine& engine, tm* local);
