// autoresponsed-dev: the daemon for development, the demo and the tests.
// Every fixed path of the appliance lies under $AR_ROOT (the socket at
// $AR_ROOT/var/run/infod-sock, the configuration at
// $AR_ROOT/etc/config/config.xml unless XMLDB_PATH names another file, the
// programs of actions under $AR_ROOT/bin and $AR_ROOT/etc/scripts), and
// the log goes to standard error instead of syslog, each line as syslog
// keeps it. --help and --version answer and exit, as the daemon's do.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "daemon/daemon.h"

namespace {

const char kUsage[] = "usage: AR_ROOT=DIR autoresponsed-dev [--help | --version]\n";

const char kHelp[] =
    "\n"
    "The automatic-response daemon for a development machine: autoresponsed\n"
    "with every fixed path of the appliance under the directory $AR_ROOT. It\n"
    "reads its rules from $AR_ROOT/etc/config/config.xml (or the file\n"
    "$XMLDB_PATH names), subscribes to infod on $AR_ROOT/var/run/infod-sock,\n"
    "runs the appliance's programs of actions from $AR_ROOT/bin and\n"
    "$AR_ROOT/etc/scripts, writes its pid to $AR_ROOT/var/run/autoresponsed.pid\n"
    "and logs to standard error, each line with its time as syslog has it\n"
    "(arctl log -n N --syslog FILE reads them). It loads its rules again on\n"
    "SIGHUP and does not fork into the background.\n"
    "\n"
    "  --help      print this and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "See autoresponsed(8); with AR_ROOT set, arctl(8) steers this daemon.\n";

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> answered =
          answer_command_line(argc, argv, kUsage, kHelp, "autoresponsed-dev " AR_VERSION "\n")) {
    return *answered;
  }
  const char* root = getenv("AR_ROOT");
  if (root == nullptr || root[0] == '\0') {
    fputs(kUsage, stderr);
    return 2;
  }
  const std::string config = std::string(root) + "/etc/config/config.xml";
  setenv("XMLDB_PATH", config.c_str(), 0);
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "autoresponsed-dev";
  Paths paths = Paths::under(root);
  paths.config_file = getenv("XMLDB_PATH");  // the file the configuration database opens
  return run_daemon(name, paths, LogSink::Stderr);
}
