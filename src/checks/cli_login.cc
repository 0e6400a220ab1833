// CLI login event check: logins, logouts and authentication errors of the
// CLI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/modules.h"

namespace {

CheckOutcome cli_login_on_event(const ArCheck* check, const CheckEvent& event) {
  return login_on_event(check, event, kCliLoginNames);
}

int cli_login_subscription_key(const ArCheck* check, std::string* key) {
  return login_subscription_key(check, kCliLoginNames, key);
}

}  // namespace

const CheckOps kCliLoginCheckOps = {
    cli_login_on_event,
    nullptr,
    login_describe_device,
    login_describe_trigger,
    cli_login_subscription_key,
};
