// `arctl log [-f]`: the engine's log key, once or followed.
#include <ctime>
#include <string>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/text.h"
#include "core/link.h"

namespace {

// "2024-05-01 14:03:07" in local time.
std::string local_time(uint64_t time_ms) {
  const time_t seconds = time_ms > 0 ? static_cast<time_t>(time_ms / 1000) : time(nullptr);
  struct tm t{};
  char text[32] = "";
  if (localtime_r(&seconds, &t) != nullptr) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

int run_log(Invocation& inv) {
  InfodConnection infod;
  std::string error;
  if (!infod.open(inv.socket, &error)) {
    inv.err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  if (!inv.follow) {
    std::optional<std::string> line;
    if (!infod.get(kLogKey, &line)) {
      inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
      return 1;
    }
    if (line) {
      inv.out << visible(*line) << "\n";
    } else {
      inv.err << "arctl: " << kLogKey << " holds no line yet\n";
    }
    return 0;
  }
  if (!infod.subscribe(kLogKey)) {
    inv.err << "arctl: could not subscribe at infod " << visible(inv.socket) << "\n";
    return 1;
  }
  InfodUpdate update;
  while (infod.next_update(&update)) {
    if (update.key != kLogKey) continue;
    inv.out << local_time(update.time_ms) << "  " << visible(update.value) << std::endl;
  }
  inv.err << "arctl: infod closed the connection\n";
  return 1;
}

}  // namespace

const Command kLogCommand = {
    "log",
    "[-f] [--socket PATH]",
    "print the last engine log line, or follow it",
    "Prints the line the daemon last wrote into infod's key\n"
    "config.autoresponse.log (state changes, actions and their ends, control\n"
    "commands). With -f, follows the key instead: prints every new line with\n"
    "the local time until interrupted.\n"
    "\n"
    "  -f, --follow    follow the log\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 printed, 1 infod cannot be reached or went away.\n",
    kOptionSocket | kOptionFollow,
    0,
    0,
    run_log,
};
