// The development infod's client commands: push, get and watch, each over
// one short-lived connection.
#pragma once

#include <string>
#include <vector>

namespace devinfod {

// Exit statuses of the commands.
constexpr int kExitOk = 0;
constexpr int kExitNothing = 1;  // get: no value; watch: nothing in time
constexpr int kExitUsage = 2;
constexpr int kExitLink = 3;  // infod unreachable or gone

// Pushes one value and waits until the server has taken it, so that a
// command run afterwards sees it.
int run_push(const std::string& socket_path, const std::string& key, const std::string& value, long long number);

// Prints the value of key and a newline; kExitNothing when it has none.
int run_get(const std::string& socket_path, const std::string& key);

struct WatchOptions {
  std::vector<std::string> keys;
  long count = 0;            // exit after this many updates; 0: never
  double timeout_s = -1.0;   // exit with kExitNothing after this long without one; < 0: never
};

// Subscribes to every key (client name "watch") and prints each update as
// KEY=VALUE on its own line, flushed at once.
int run_watch(const std::string& socket_path, const WatchOptions& options);

}  // namespace devinfod
