// The "rpc" action: switches a power outlet with pmpower, addressing the
// power device by its serial port or, for a networked device, by address.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "actions/queue.h"
#include "base/paths.h"

namespace {

constexpr const char kPortRefPrefix[] = "config.ports.port";

// The serial port number of a reference "config.ports.port<n>...", 0 when
// it has no such form.
int port_number(const std::string& ref) {
  if (ref.compare(0, sizeof kPortRefPrefix - 1, kPortRefPrefix) != 0) return 0;
  const char* digits = ref.c_str() + sizeof kPortRefPrefix - 1;
  char* end = nullptr;
  const long n = strtol(digits, &end, 10);
  if (end == digits) return 0;
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

}  // namespace

int queue_rpc_action(ActionQueue& queue, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".rpc");
  const std::string ref = settings.text("rpc_ref");
  const std::string outlet = settings.text("outlet");
  const std::string command = settings.text("action");

  std::vector<std::string> argv{"/bin/pmpower"};
  if (ref.find("sdt") != std::string::npos) {
    argv.push_back("-r");
    argv.push_back(settings.text_at(ref, "address"));
  } else {
    char port[32];
    snprintf(port, sizeof port, "port%02d", port_number(ref));
    argv.push_back("-l");
    argv.push_back(port);
  }
  argv.push_back("-o");
  argv.push_back(outlet);
  argv.push_back(command);

  const int result = queue.add(check, action, status, queue.paths().pmpower, argv, {}, 0);
  return action_queued(result, status, "Could not queue action: %s", action.name);
}
