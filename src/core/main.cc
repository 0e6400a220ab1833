// autoresponsed: the appliance's automatic-response daemon. It takes no
// options and reads no environment; its invocation name names its log.
#include "core/daemon.h"

int main(int argc, char** argv) {
  const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : "autoresponsed";
  return run_daemon(name, Paths::fixed(), LogSink::Syslog);
}
