// The 5-second tick: disable schedules, the end of Timeout, and the due
// (delayed and repeated) actions of Triggered and Resolving references.
#pragma once

struct DaemonContext;
struct DisableWindow;

constexpr int kTickSeconds = 5;

// Registers the tick timer and arms it.
void tick_start(DaemonContext* ctx);

// The timer callback: one pass over every ArCheck, then re-armed.
void ar_tick(int fd, short events, void* ctx);

// Whether hour:minute lies inside the window, both ends included to the
// minute. Windows do not wrap past midnight; an empty window never matches.
bool disable_window_contains(const DisableWindow& window, int hour, int minute);
