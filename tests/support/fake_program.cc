// A stand-in for one of the appliance's programs in the end-to-end tests (see fake() in e2e.h): each call
// appends its argument vector, argv[0] included, joined by '|', to the ".calls" file beside it. A shell
// script could not: the kernel puts the script's own path in its argv[0].
#include <fcntl.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

int main() {
  // The path it was started under, not the one the link leads to.
  const std::string self = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  std::stringstream s;
  s << std::ifstream("/proc/self/cmdline", std::ios::binary).rdbuf();
  std::string line = s.str();
  // Every argument ends in a NUL, an empty one included.
  std::replace(line.begin(), line.end(), '\0', '|');
  if (!line.empty()) line.pop_back();
  line += '\n';
  const int out = open((self + ".calls").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return out >= 0 && write(out, line.data(), line.size()) == static_cast<ssize_t>(line.size()) ? 0 : 3;
}
