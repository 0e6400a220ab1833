// autoresponsed-dev: the daemon for development, the demo and the tests.
// Every fixed path of the appliance lies under $AR_ROOT (the socket at
// $AR_ROOT/var/run/infod-sock, the configuration at
// $AR_ROOT/etc/config/config.xml unless XMLDB_PATH names another file, the
// programs of actions under $AR_ROOT/bin and $AR_ROOT/etc/scripts), and
// the log goes to standard error instead of syslog.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "daemon/daemon.h"

int main(int argc, char** argv) {
  const char* root = getenv("AR_ROOT");
  if (root == nullptr || root[0] == '\0') {
    fprintf(stderr, "usage: AR_ROOT=DIR %s\n", argc > 0 ? argv[0] : "autoresponsed-dev");
    return 2;
  }
  const std::string config = std::string(root) + "/etc/config/config.xml";
  setenv("XMLDB_PATH", config.c_str(), 0);
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "autoresponsed-dev";
  Paths paths = Paths::under(root);
  paths.config_file = getenv("XMLDB_PATH");  // the file the configuration database opens
  return run_daemon(name, paths, LogSink::Stderr);
}
