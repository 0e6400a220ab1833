// Port lookup and device description shared by the serial checks.
#include "checks/serial_port.h"

#include "base/log.h"
#include "checks/audit.h"
#include "model/archeck.h"
#include "model/autoresponse.h"

std::string serial_port_ref(const ArCheck* check, const char* domain) {
  const std::string key = std::string(domain) + ".dev_refs.dev_ref" + std::to_string(check->conf.ref_index);
  return check_setting(check, key.c_str());
}

void serial_audit_port(const ArCheck* check, const char* domain, AuditReport* report) {
  std::string key;
  if (!audit_reference_entry(check, domain, "name its port, such as config.ports.port3", report, &key).empty()) {
    audit_device(check, key.c_str(), 3, "port", report);
  }
}

int serial_describe_device(const ArCheck* check, const char* domain, OptionalText* device,
                           OptionalText* label, OptionalText* dev_ref) {
  const std::string port = serial_port_ref(check, domain);
  if (port.empty()) {
    ar_log(kLogFatal, "Invalid serial port settings for AR: %s", check->conf.ar->name.c_str());
    return -1;
  }
  // A port without a label describes itself with an empty device text.
  set_output(device, check_setting_at(check, port.c_str(), "label"));
  set_output(label, "Serial Port");
  set_output(dev_ref, port);
  return 0;
}
