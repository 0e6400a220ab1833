// fuzz-seconds: 60
// libFuzzer target: arbitrary command texts through control_handle on a
// small loaded configuration, with the references in states the input
// chooses. A command never ends the daemon, changes at most the first
// reference of the rule it names, and only from Triggered or Resolving to
// Timeout, with its line pushed first.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/control.h"
#include "core/link.h"
#include "core/paths.h"

namespace {

// Two rules on custom scripts; the second has two references.
constexpr const char kConfig[] =
    "<config><autoresponse><total>2</total>"
    "<autoresponse1><name>fan</name><check_type>custom</check_type></autoresponse1>"
    "<autoresponse2><name>pump</name><check_type>custom</check_type>"
    "<custom><dev_refs><total>2</total></dev_refs></custom></autoresponse2>"
    "</autoresponse></config>\n";

class NoSpawner final : public Spawner {
 public:
  pid_t spawn(const char*, char* const[], char* const[]) override { return -1; }
};

// A daemon context without a socket or an event loop: messages stay in
// the outgoing queue.
struct Harness {
  Harness() {
    char tmpl[] = "/tmp/ar-control-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) std::abort();
    dir = tmpl;
    std::ofstream(dir + "/config.xml") << kConfig;
    setenv("XMLDB_PATH", (dir + "/config.xml").c_str(), 1);
    paths = Paths::under(dir);
    ctx.paths = &paths;
    ctx.clock = &clock;
    ctx.spawner = &spawner;
    ctx.control_key = kControlTable.key;
    ctx.write_event_added = true;  // never add the write event
    if (load_config(&ctx) != 0 || ctx.checks.size() != 3) std::abort();
    ctx.out_queue.clear();
  }
  ~Harness() {
    unload_config(&ctx);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  std::string dir;
  Paths paths;
  SystemClock clock;
  NoSpawner spawner;
  DaemonContext ctx;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness h;
  if (size == 0) return 0;
  // The first byte picks each reference's state, the rest is the command.
  std::vector<ArCheckState> before;
  unsigned pick = data[0];
  for (ArCheck& check : h.ctx.checks) {
    check.state = static_cast<ArCheckState>(kArNormal + pick % 5);
    pick /= 5;
    before.push_back(check.state);
  }
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  h.ctx.out_queue.clear();
  if (control_handle(&h.ctx, text.c_str()) != 0) std::abort();

  size_t i = 0;
  int changed = 0;
  for (const ArCheck& check : h.ctx.checks) {
    if (check.state != before[i]) {
      ++changed;
      if (check.state != kArTimeout || (before[i] != kArTriggered && before[i] != kArResolving)) std::abort();
      // The rule's first reference only: the second of rule 2 never moves.
      if (i == 2) std::abort();
    }
    ++i;
  }
  if (changed > 1) std::abort();
  if (changed == 1) {
    if (h.ctx.out_queue.empty()) std::abort();
    const std::string& first = h.ctx.out_queue.front().text;
    // The line may be cut right after these words when the origin is not
    // valid UTF-8.
    if (first.find("Control Message from") == std::string::npos) std::abort();
  } else if (!h.ctx.out_queue.empty()) {
    std::abort();
  }
  h.ctx.out_queue.clear();
  return 0;
}
