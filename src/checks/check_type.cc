// The CheckType table and the helpers every check module shares.
#include "checks/check_type.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "checks/modules.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/context.h"

const CheckType kCheckTypes[] = {
    {kCheckEnviro, "enviro", &kEnviroCheckOps},
    {kCheckPower, "power", &kPowerCheckOps},
    {kCheckUpsState, "ups.state", &kUpsStateCheckOps},
    {kCheckAlarm, "alarm", &kAlarmCheckOps},
    {kCheckSerialSignal, "serial.signal", &kSerialSignalCheckOps},
    {kCheckSerialLogin, "serial.login", &kSerialLoginCheckOps},
    {kCheckSerialPattern, "serial.pattern", &kSerialPatternCheckOps},
    {kCheckNetPing, "net.ping", &kPingCheckOps},
    {kCheckNetTcp, "net.tcp", nullptr},
    {kCheckSms, "sms", &kSmsCheckOps},
    {kCheckCelldata, "celldata", &kCelldataCheckOps},
    {kCheckCustom, "custom", &kCustomCheckOps},
    {kCheckWebuiLogin, "webui_login", &kWebuiLoginCheckOps},
    {kCheckUsbConsole, "usb_console_status", &kUsbConsoleCheckOps},
    {kCheckNetInterface, "conman", &kNetInterfaceCheckOps},
    {kCheckRouteddata, "routeddata", &kRouteddataCheckOps},
    {kCheckCliLogin, "cli_login", &kCliLoginCheckOps},
    {kCheckNone, nullptr, nullptr},
};

const CheckType* check_type_find(int32_t id) {
  for (const CheckType* t = kCheckTypes; t->domain != nullptr; ++t) {
    if (t->id == id) return t;
  }
  return nullptr;
}

const char* check_setting_at(const ArCheck* check, const char* prefix, const char* key) {
  return xmldb_getstring(check->conf.ar->config_db, prefix, key);
}

const char* check_setting(const ArCheck* check, const char* key) {
  return xmldb_getstring(check->conf.ar->config_db, check->conf.ar->path.c_str(), key);
}

int32_t check_setting_size(const ArCheck* check, const char* key) {
  return xmldb_getsize(check->conf.ar->config_db, check->conf.ar->path.c_str(), key);
}

bool check_setting_flag(const ArCheck* check, const char* key) {
  return xmldb_getbool(check->conf.ar->config_db, check->conf.ar->path.c_str(), key) != 0;
}

int32_t leading_int(const char* text) {
  if (text == nullptr) return 0;
  const long v = strtol(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void set_output(OptionalText* out, std::string text) {
  if (out != nullptr) *out = std::move(text);
}

bool current_value(const ArCheck* check, OptionalText* out) {
  if (!check->current_event) return false;
  set_output(out, check->current_event->value);
  return true;
}
