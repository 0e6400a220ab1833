// The whole life of the daemon, shared by the production and the
// development entry points.
#pragma once

#include <optional>

#include "base/log.h"
#include "base/paths.h"
#include "wire/message.h"

struct Engine;

// Sets up logging, connects to infod, registers the loop's events, loads
// the configuration, waits out the boot delay and runs the loop. Returns
// the exit status: 0 when the loop ended, -1 when the socket or the event
// base could not be made, 1 after a fatal error on the link.
int run_daemon(const char* name, const Paths& paths, LogSink sink);

// The command line of either entry point: "--help" prints usage and help,
// "--version" the version line, each on standard output with status 0;
// any other argument prints usage on standard error, status 2. Nothing
// when there is no argument, and the daemon is to run.
std::optional<int> answer_command_line(int argc, char** argv, const char* usage, const char* help,
                                       const char* version_line);

// The link's message handler (owner is the DaemonContext): the message
// goes to take_infod_message with the context's engine.
int dispatch_message(void* owner, const InfodMessage& message);

// One message from infod, as the link split it: an update goes to the
// engine (a control command or a value), one without a key or a value is
// logged as "Invalid message from infod" and changes nothing, any other
// message is ignored. 0 handled or ignored, non-zero failed (fatal).
// `arctl test` hands its pushes through here too.
int take_infod_message(Engine& engine, const InfodMessage& message);

// The tick timer's callback: the engine's pass, then the daemon's
// heartbeat; re-armed.
void daemon_tick(int fd, short events, void* ctx);

// The SIGCHLD callback: every ended child is collected without blocking.
void daemon_reap(int signal_number, short events, void* ctx);
