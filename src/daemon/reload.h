// Loading the configuration into the running daemon, at start and on
// SIGHUP: open → load → swap → route → subscribe → Normal.
#pragma once

struct DaemonContext;

// Opens the configuration file and, when that works, lets the running
// rules go and runs the new ones; -1 (logged, published in the daemon's
// status) when it cannot be opened, and everything stays as it was.
int load_config(DaemonContext* ctx);

// Lets every rule go: each key is unsubscribed and the database closed.
// Queued and running actions stay.
void unload_config(DaemonContext* ctx);

// The SIGHUP callback: load_config, after accounting for the delayed
// actions the running rules drop.
void reload_config(int signal_number, short events, void* ctx);
