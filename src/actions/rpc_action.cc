// The "rpc" action: switches a power outlet with pmpower, addressing the
// power device by its serial port or, for a networked device, by address.
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "actions/action_kinds.h"
#include "actions/action_settings.h"
#include "base/paths.h"
#include "checks/audit.h"

namespace {

// The settings this action reads under its element.
constexpr const char* kRpcRef = "rpc_ref";
constexpr const char* kOutlet = "outlet";
constexpr const char* kAction = "action";

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

int queue_rpc_action(const ActionEnv& env, ArCheck* check, const Action& action, ActionStatus* status) {
  const ActionSettings settings(check, action, ".rpc");
  const std::string ref = settings.text(kRpcRef);
  const std::string outlet = settings.text(kOutlet);
  const std::string command = settings.text(kAction);

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

  const int result = env.queue.enqueue(check, action, status, env.paths.pmpower, argv, {}, 0);
  return action_queued(result, status, "Could not queue action: %s", action.name);
}

void audit_rpc_action(AuditReport* report, xmldb_t* db, const std::string& action, const CheckType* /*check*/) {
  const std::string rpc = action + ".rpc";
  const std::string ref = audit_setting(db, rpc, kRpcRef);
  if (ref.empty()) {
    report->error(rpc + ".rpc_ref", "missing, so the action switches no outlet; name the power device, such as "
                                    "config.ports.port5");
  } else if (ref.find("sdt") != std::string::npos) {
    audit_device(report, db, rpc + ".rpc_ref", ref, 0, "power device", "the action has nothing to switch");
  } else {
    int port = 0;
    // The daemon reads the port number as "config.ports.port%d" does.
    if (sscanf(ref.c_str(), "config.ports.port%d", &port) != 1) {
      report->error(rpc + ".rpc_ref", quoted(ref) + " is not a serial port (config.ports.portN), so the daemon "
                                                    "switches the outlets of a port it cannot tell; name the port");
    } else {
      audit_device(report, db, rpc + ".rpc_ref", ref, 3, "port", "the action has nothing to switch");
    }
  }
  if (audit_setting(db, rpc, kOutlet).empty()) report->error(rpc + ".outlet", "missing; set the outlet to switch");
  const std::string what = audit_setting(db, rpc, kAction);
  if (what.empty()) {
    report->error(rpc + ".action", "missing, so pmpower is told nothing to do; use on, off or cycle");
  } else {
    audit_choice(report, rpc + ".action", what, {"on", "off", "cycle"}, "an outlet action",
                 "pmpower refuses it and the outlet stays as it is");
  }
}

const char* const kRpcSettings[] = {kRpcRef, kOutlet, kAction, nullptr};

}  // namespace

extern const ActionKind kRpcAction = {
    .type = "rpc",
    .queue = queue_rpc_action,
    .audit = audit_rpc_action,
    .settings = kRpcSettings,
};
