// The whole life of the daemon, shared by the production and the
// development entry points.
#pragma once

#include "core/log.h"
#include "core/paths.h"

// Sets up logging, connects to infod, registers the loop's events, loads
// the configuration, waits out the boot delay and runs the loop. Returns
// the exit status: 0 when the loop ended, -1 when the socket or the event
// base could not be made, 1 after a fatal error on the link.
int run_daemon(const char* name, const Paths& paths, LogSink sink);
