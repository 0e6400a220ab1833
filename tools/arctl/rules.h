// The rules arctl's infod commands work on: the configuration read as the
// daemon reads it, and the infod keys the daemon publishes for each
// reference.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "arctl/offline.h"

// The configuration file the daemon reads ($XMLDB_PATH, else the
// appliance's), loaded offline; null after saying on err why it cannot be.
std::unique_ptr<OfflineConfig> load_rules(std::ostream& err);

// The keys of a reference's state and current value.
std::string state_key(const OfflineRule& rule, uint32_t reference);
std::string value_key(const OfflineRule& rule, uint32_t reference);
