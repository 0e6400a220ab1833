// Which configuration file arctl reads, and opening it.
#pragma once

#include <ostream>
#include <string>

// The appliance's configuration file.
constexpr const char* kConfigFile = "/etc/config/config.xml";

// The file arctl reads when none is named: XMLDB_PATH when it is set and
// not empty (as the configuration database itself does), else kConfigFile.
std::string default_config_file();

// Opens file for reading, without waiting on it; -1, with the reason
// written to err, when it cannot be opened or is not a regular file
// ("error: FILE: not a regular file").
int open_config_file(const std::string& file, std::ostream& err);
