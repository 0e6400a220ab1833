// The daemon's start: the first load, taking up what the last process kept.
#pragma once

#include <memory>

struct Engine;
struct LoadedConfig;

// At start: makes loaded (made by config_load, no reference adopted yet)
// the running load, as engine_load does, except that it takes up what the
// last process kept in engine.records (engine/restart.h): each rule whose
// record was written for this very rule resumes its references, which
// publish the state kept instead of Normal; what the last process had
// queued and not started is queued again, ahead of what fell due while
// the daemon was down, which is queued now, once (a repeat or the end of a
// Timeout waits for the first tick). The silences in the records are taken
// up first, whatever configuration each was written for. The daemon's
// start and `arctl test`'s share it.
void engine_start(Engine& engine, std::unique_ptr<LoadedConfig>* running, std::unique_ptr<LoadedConfig> loaded);
