// The watchable network interfaces and the interface events that can
// trigger, shared by the network interface and routed-data checks.
#pragma once

#include <string>

#include "checks/check_type.h"

struct ArCheck;

// One watchable interface. The table ends with a row of four nulls.
struct InterfaceInfo {
  const char* status_key;    // infod key of the interface's state
  const char* display_name;  // shown as the device
  const char* kind;          // the kind of link, shown as the label
  const char* config_key;    // the configuration path a rule names it by
};

extern const InterfaceInfo kInterfaceInfo[];

// One interface event and its bit in "conman.event_mask". The table ends
// with a row whose event is null.
struct ConmanEvent {
  const char* event;  // compared whole with an update's value
  unsigned bit;
};

extern const ConmanEvent kConmanEvents[];

// The first row whose config_key equals ref exactly; null when none does.
const InterfaceInfo* interface_info_find(const char* ref);

// Whether ref names a VPN tunnel: it begins with "config.openvpn".
bool interface_is_tunnel(const char* ref);

// The event whose name equals value exactly; null for any other text.
const ConmanEvent* conman_event_find(const char* value);

// What a configured interface reference resolves to.
struct InterfaceRef {
  std::string status_key;    // empty for a tunnel without a name
  std::string display_name;
  std::string kind;
};

// Resolves ref: a table row first, otherwise a tunnel, whose name is read
// from "name" under ref in check's configuration. False when ref is
// neither; out is then untouched.
bool interface_resolve(const ArCheck* check, const std::string& ref, InterfaceRef* out);

// The audit of the interface reference held by the setting key: missing
// (an error with consequence), neither a watched interface nor a tunnel,
// or a tunnel without a name (no status key to watch).
void interface_audit(const ArCheck* check, const char* key, const std::string& consequence, AuditReport* report);

// describe_device of a check whose device is the interface named by the
// rule's setting key: display name, kind and the reference itself.
int interface_describe_device(const ArCheck* check, const char* key, OptionalText* device, OptionalText* label,
                              OptionalText* dev_ref);
