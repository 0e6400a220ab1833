// Which configuration file arctl reads, and opening it.
#pragma once

#include <ostream>
#include <string>

#include "base/paths.h"

// The daemon's paths when no option names one: the appliance's, or with
// AR_ROOT set and not empty the same paths under that directory, as the
// development daemon takes them.
Paths daemon_paths();

// The file arctl reads when none is named: XMLDB_PATH when it is set and
// not empty (as the configuration database itself does), else the
// configuration file of daemon_paths().
std::string default_config_file();

// Opens file for reading, without waiting on it; -1, with the reason
// written to err, when it cannot be opened or is not a regular file
// ("error: FILE: not a regular file").
int open_config_file(const std::string& file, std::ostream& err);
