// The 5-second tick and the two action-queueing steps: disable schedules,
// delayed and repeated trigger actions, the end of Timeout, and the
// hand-over of due actions to their queue operations in list order.
#pragma once

struct ArCheck;
struct DaemonContext;
struct DisableWindow;

constexpr int kTickSeconds = 5;

// Registers the tick timer and arms it.
void tick_start(DaemonContext* ctx);

// The timer callback: one pass over every ArCheck, then re-armed.
void ar_tick(int fd, short events, void* ctx);

// Offers every due Pending trigger action, strictly in list order; ends the
// trigger of a rule without a resolve stage and repeats when configured.
void ar_queue_trigger_actions(ArCheck* check);

// Offers every Pending resolve action, then moves on to Timeout or Normal.
void ar_queue_resolve_actions(ArCheck* check);

// Whether hour:minute lies inside the window, both ends included to the
// minute. Windows do not wrap past midnight; an empty window never matches.
bool disable_window_contains(const DisableWindow& window, int hour, int minute);
