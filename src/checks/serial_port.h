// The port of a serial check's device reference, shared by the signal,
// login and pattern checks.
#pragma once

#include <string>

#include "checks/check_type.h"

// The configuration path of the port of check's reference: the setting
// "<domain>.dev_refs.dev_ref<ref_index>" of its rule; "" when absent.
std::string serial_port_ref(const ArCheck* check, const char* domain);

// The audit of the port of check's reference: missing (no subscription),
// or one the configuration does not hold.
void serial_audit_port(const ArCheck* check, const char* domain, AuditReport* report);

// describe_device of every serial check: the port's label, "Serial Port"
// and the port's reference. -1 (logged) when the reference has no port.
int serial_describe_device(const ArCheck* check, const char* domain, OptionalText* device,
                           OptionalText* label, OptionalText* dev_ref);
