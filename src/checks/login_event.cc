// The shared part of the web UI and CLI login event checks.
#include "checks/login_event.h"

#include <cstring>

#include "checks/audit.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

namespace {

struct LoginFlags {
  bool login;
  bool logout;
  bool auth_error;
};

LoginFlags read_flags(const ArCheck* check, const LoginEventNames& names) {
  return LoginFlags{check_setting_flag(check, names.login_flag), check_setting_flag(check, names.logout_flag),
                    check_setting_flag(check, names.auth_error_flag)};
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

CheckOutcome login_on_event(const ArCheck* check, const CheckEvent& event, const LoginEventNames& names) {
  const LoginFlags flags = read_flags(check, names);
  // The broad key brings every kind; only the chosen kinds count.
  const bool matches = (flags.login && contains(event.key, "login")) ||
                       (flags.logout && contains(event.key, "logout")) ||
                       (flags.auth_error && contains(event.key, "auth_error"));
  return matches ? trigger_when_normal(check, event) : outcome_drop();
}

int login_describe_device(const ArCheck* /*check*/, OptionalText* /*device*/, OptionalText* /*label*/,
                          OptionalText* /*dev_ref*/) {
  return 0;
}

int login_describe_trigger(const ArCheck* check, OptionalText* value, OptionalText* property, OptionalText* trigger) {
  if (!check->current_event) return -1;
  const CheckEvent& event = *check->current_event;
  const char* kind = contains(event.key, "login") ? "LOGIN" : contains(event.key, "logout") ? "LOGOUT" : "AUTH ERROR";
  set_output(value, std::string(kind) + ": " + event.value);
  set_output(property, "N/A");
  set_output(trigger, "N/A");
  return 0;
}

void login_event_audit(const ArCheck* check, const LoginEventNames& names, AuditReport* report) {
  for (const char* flag : {names.login_flag, names.logout_flag, names.auth_error_flag}) audit_flag(check, flag, report);
  const LoginFlags flags = read_flags(check, names);
  if (flags.login || flags.logout || flags.auth_error) return;
  const std::string domain(names.login_flag, strchr(names.login_flag, '.'));
  report->error(audit_path(check, domain.c_str()), "none of trigger_login, trigger_logout and trigger_auth_error is on, so " +
                                                      no_subscription("turn on the events to act on"));
}

int login_subscription_key(const ArCheck* check, const LoginEventNames& names, std::string* key) {
  const LoginFlags flags = read_flags(check, names);
  const int set = int{flags.login} + int{flags.logout} + int{flags.auth_error};
  if (set == 0) return -1;
  if (key == nullptr) return 0;
  std::string chosen = names.base_key;
  if (set == 1) chosen += flags.login ? ".login" : flags.logout ? ".logout" : ".auth_error";
  *key = std::move(chosen);
  return 0;
}
