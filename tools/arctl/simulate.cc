// Until the engine runs apart from the daemon's process, there is nothing
// to simulate with.
#include "arctl/simulate.h"

bool simulate(const TestFile& test, std::vector<Record>* records, std::string* fault) {
  records->clear();
  *fault = test.file + ":" + std::to_string(test.config_line) + ": this build of arctl cannot simulate the daemon yet";
  return false;
}
