// Web UI login event check: logins, logouts and authentication errors of the
// web UI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/modules.h"

namespace {

CheckOutcome webui_login_on_event(const ArCheck* check, const CheckEvent& event) {
  return login_on_event(check, event, kWebuiLoginNames);
}

int webui_login_subscription_key(const ArCheck* check, std::string* key) {
  return login_subscription_key(check, kWebuiLoginNames, key);
}

}  // namespace

const CheckOps kWebuiLoginCheckOps = {
    webui_login_on_event,
    nullptr,
    login_describe_device,
    login_describe_trigger,
    webui_login_subscription_key,
};
