// Which configuration file arctl reads.
#include "arctl/config_tree.h"

#include <cstdlib>

std::string default_config_file() {
  const char* path = getenv("XMLDB_PATH");
  return path != nullptr && path[0] != '\0' ? path : kConfigFile;
}
