// Cellular data alerts: the verdict and the byte count an alert text
// carries, apart from the check module so they can be fed directly.
#pragma once

#include <optional>
#include <string>

// Whether the alert asks to trigger: it contains "TRIGGER" anywhere.
bool celldata_says_trigger(const std::string& alert);

// Whether the alert asks to resolve: it contains "RESOLVE" anywhere.
bool celldata_says_resolve(const std::string& alert);

// The second ':'-separated field of the alert (the byte count, as text);
// nothing when the alert has no ':'.
std::optional<std::string> celldata_alert_bytes(const std::string& alert);
