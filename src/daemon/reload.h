// Loading the configuration into the running daemon, at start and on
// SIGHUP: open → load → swap → route → subscribe → Normal.
#pragma once

struct DaemonContext;

// Opens the configuration file and, when that works, lets the running
// rules go and runs the new ones; -1 (logged, published in the daemon's
// status) when it cannot be opened, and everything stays as it was.
int load_config(DaemonContext* ctx);

// At start, before the boot delay: opens the configuration file and builds
// its rules, which wait (in the context's pending load) for start_config.
// -1 (logged) when it cannot be opened.
int open_config(DaemonContext* ctx);

// At start, once the boot delay has passed: reads what the daemon kept in
// infod for each rule opened (one get each, after the control subscription
// and before any reference's traffic) and runs the rules, each resuming
// from its record when that was written for it; then publishes the load.
void start_config(DaemonContext* ctx);

// Lets every rule go: each key is unsubscribed and the database closed.
// Queued and running actions stay.
void unload_config(DaemonContext* ctx);

// The SIGHUP callback: load_config, after accounting for the delayed
// actions the running rules drop.
void reload_config(int signal_number, short events, void* ctx);
