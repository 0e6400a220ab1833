// autoresponsed: the appliance's automatic-response daemon. Started without
// arguments it reads no environment of its own and takes its fixed paths;
// its invocation name names its log. --help and --version answer and exit.
#include <optional>

#include "daemon/daemon.h"

namespace {

const char kUsage[] = "usage: autoresponsed [--help | --version]\n";

const char kHelp[] =
    "\n"
    "The automatic-response daemon of the console-server appliance. Started\n"
    "without arguments (by its service unit), it reads its rules from\n"
    "/etc/config/config.xml, subscribes to infod on /var/run/infod-sock, runs\n"
    "the rules' actions, logs to syslog and loads its rules again on SIGHUP.\n"
    "It does not fork into the background.\n"
    "\n"
    "  --help      print this and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "See autoresponsed(8); arctl(8) checks, shows and steers its rules.\n";

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> answered =
          answer_command_line(argc, argv, kUsage, kHelp, "autoresponsed " AR_VERSION "\n")) {
    return *answered;
  }
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "autoresponsed";
  return run_daemon(name, Paths::fixed(), LogSink::Syslog);
}
