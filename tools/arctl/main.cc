// arctl: check the daemon's configuration, see every rule's state, cancel
// a rule, follow the engine's log.
#include <iostream>
#include <string>
#include <vector>

#include "arctl/arctl.h"

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const int status = arctl_main(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
