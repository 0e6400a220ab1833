// Which configuration file arctl reads.
#pragma once

#include <string>

// The appliance's configuration file.
constexpr const char* kConfigFile = "/etc/config/config.xml";

// The file arctl reads when none is named: XMLDB_PATH when it is set and
// not empty (as the configuration database itself does), else kConfigFile.
std::string default_config_file();
