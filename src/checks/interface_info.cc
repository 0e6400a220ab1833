// The InterfaceInfo and ConmanEvent tables and their lookups.
#include "checks/interface_info.h"

#include <cstring>
#include <vector>

#include "checks/audit.h"
#include "checks/check_type.h"

namespace {

constexpr char kTunnelPrefix[] = "config.openvpn";

}  // namespace

const InterfaceInfo kInterfaceInfo[] = {
    {"conman.network-connection-wan-up.status", "Network Interface", "Ethernet", "config.interfaces.wan"},
    {"conman.network-connection-lan-up.status", "Management LAN", "Ethernet", "config.interfaces.lan"},
    {"conman.network-connection-wlan-up.status", "Wireless Network", "Wi-Fi", "config.interfaces.wlan"},
    {"conman.network-connection-oobfo-up.status", "Out-of-band Failover", "Ethernet", "config.interfaces.oobfo"},
    {"conman.dial-cellmodem-up.status", "Cellular Modem", "3G/4G Modem", "config.cellmodem"},
    {"conman.dial-console-up.status", "Console Port Modem", "v92 Modem", "config.console"},
    {"conman.dial-modem-up.status", "Internal Modem", "v92 Modem", "config.modem"},
    {"conman.dial-pcmodem-up.status", "PCMCIA Modem", "v92 Modem", "config.pcmodem"},
    {"conman.dial-usbmodem-up.status", "USB Modem", "v92 Modem", "config.usbmodem"},
    {"conman.ipsec-daemon.status", "IPSec VPN Daemon", "VPN", "config.ipsec"},
    {nullptr, nullptr, nullptr, nullptr},
};

const ConmanEvent kConmanEvents[] = {
    {"down", 1},
    {"starting", 2},
    {"up", 4},
    {"stopping", 8},
    {nullptr, 0},
};

const InterfaceInfo* interface_info_find(const char* ref) {
  if (ref == nullptr) return nullptr;
  for (const InterfaceInfo* row = kInterfaceInfo; row->config_key != nullptr; ++row) {
    if (strcmp(row->config_key, ref) == 0) return row;
  }
  return nullptr;
}

bool interface_is_tunnel(const char* ref) {
  return ref != nullptr && strncmp(ref, kTunnelPrefix, sizeof kTunnelPrefix - 1) == 0;
}

const ConmanEvent* conman_event_find(const char* value) {
  if (value == nullptr) return nullptr;
  for (const ConmanEvent* e = kConmanEvents; e->event != nullptr; ++e) {
    if (strcmp(e->event, value) == 0) return e;
  }
  return nullptr;
}

bool interface_resolve(const ArCheck* check, const std::string& ref, InterfaceRef* out) {
  if (const InterfaceInfo* row = interface_info_find(ref.c_str())) {
    out->status_key = row->status_key;
    out->display_name = row->display_name;
    out->kind = row->kind;
    return true;
  }
  if (!interface_is_tunnel(ref.c_str())) return false;
  const std::string name = check_setting_at(check, ref.c_str(), "name");
  out->status_key = name.empty() ? std::string() : "conman.openvpn-" + name + ".status";
  out->display_name = name;
  out->kind = "VPN Tunnel";
  return true;
}

void interface_audit(const ArCheck* check, const char* key, const std::string& consequence, AuditReport* report) {
  if (!audit_required(check, key, consequence, report)) return;
  const std::string ref = check_setting(check, key);
  InterfaceRef info;
  if (!interface_resolve(check, ref, &info)) {
    std::vector<std::string> keys;
    for (const InterfaceInfo* row = kInterfaceInfo; row->config_key != nullptr; ++row) keys.emplace_back(row->config_key);
    keys.emplace_back("a tunnel under config.openvpn");
    report->error(audit_path(check, key), quoted(ref) + " is not an interface the appliance watches, so " +
                                              consequence.substr(0, consequence.find(';')) + "; use " + one_of(keys));
  } else if (info.status_key.empty()) {
    report->error(audit_path(check, key), "the tunnel " + ref + " has no name in this configuration, so " +
                                              consequence.substr(0, consequence.find(';')) + "; check the tunnel");
  }
}

int interface_describe_device(const ArCheck* check, const char* key, OptionalText* device, OptionalText* label,
                              OptionalText* dev_ref) {
  const std::string ref = check_setting(check, key);
  InterfaceRef info;
  if (!interface_resolve(check, ref, &info)) return -1;
  set_output(device, info.display_name);
  set_output(label, info.kind);
  set_output(dev_ref, ref);
  return 0;
}
