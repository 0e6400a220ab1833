// Web UI login event check: logins, logouts and authentication errors of the
// web UI, on the shared login event design.
#include "checks/login_event.h"
#include "checks/modules.h"

namespace {

int webui_login_on_event(ArCheck* check) { return login_on_event(check, kWebuiLoginNames); }

int webui_login_subscription_key(ArCheck* check, std::string* key) {
  return login_subscription_key(check, kWebuiLoginNames, key);
}

}  // namespace

const CheckOps kWebuiLoginCheckOps = {
    webui_login_on_event,
    login_describe_device,
    login_describe_trigger,
    webui_login_subscription_key,
};
