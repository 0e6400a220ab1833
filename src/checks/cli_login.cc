// CLI login event check: logins, logouts and authentication errors of the
// CLI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/modules.h"

namespace {

int cli_login_on_event(ArCheck* check) { return login_on_event(check, kCliLoginNames); }

int cli_login_subscription_key(ArCheck* check, std::string* key) {
  return login_subscription_key(check, kCliLoginNames, key);
}

}  // namespace

const CheckOps kCliLoginCheckOps = {
    cli_login_on_event,
    login_describe_device,
    login_describe_trigger,
    cli_login_subscription_key,
};
