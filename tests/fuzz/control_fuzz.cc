// fuzz-seconds: 60
// libFuzzer target: arbitrary command texts through control_handle, the references in states the input
// chooses, no silence held. A command never ends the daemon and changes one thing at most, pushing its line first:
// the first reference of the rule it names, from Triggered or Resolving to Timeout, or one silence of that rule,
// of a reference it has (or every one), for 30 days at most, and only for a command field that is "silence" itself;
// a text with an id is answered, last, one without is not.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/paths.h"
#include "daemon/context.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "engine/control.h"
#include "engine/silence.h"
#include "wire/frame.h"

namespace {

// Two rules on custom scripts, the second with two references; no actions, so no spawner.
struct Harness {
  Harness() {
    std::ofstream(file) << "<config><autoresponse><total>2</total><autoresponse1><name>fan</name>"
                           "<check_type>custom</check_type></autoresponse1><autoresponse2><name>pump</name><check_type>"
                           "custom</check_type><custom><dev_refs><total>2</total></dev_refs></custom></autoresponse2>"
                           "</autoresponse></config>\n";
    setenv("XMLDB_PATH", file.c_str(), 1);
    paths.config_file = file;
    ctx.link.write_event_added = true;  // no socket: messages stay queued
    if (load_config(&ctx) != 0 || ctx.config->checks.size() != 3) abort();
  }
  ~Harness() { unload_config(&ctx); unlink(file.c_str()); }
  const std::string file = "/tmp/ar-control-fuzz-" + std::to_string(getpid()) + ".xml";
  Paths paths;
  SystemClock clock;
  PlatformSpawner spawner;
  DaemonContext ctx{paths, clock, spawner};
};

// The third comma-separated field, runs of commas counting as one (the text ends at a NUL, as it is handed over).
std::string command_field(const char* text) {
  std::string fields[3];
  int at = -1;
  for (bool in_field = false; *text != '\0' && at < 3; ++text) {
    if (*text == ',') {
      in_field = false;
      continue;
    }
    if (!in_field && ++at == 3) break;
    in_field = true;
    fields[at] += *text;
  }
  return fields[2];
}

// Whether a queued message (its frame header, then type, key, number and value) is a push under the answers' key;
// a log line may quote the key anywhere in its value.
bool answers(const std::string& message) {
  const std::string key = std::string("1\x1e") + kControlResultKey + '\x1e';
  return message.size() > kFrameHeader && message.compare(kFrameHeader, key.size(), key) == 0;
}

// The text after its id, when it has one.
std::string_view rest_of(const std::string& text) {
  std::string_view rest = text;
  control_id_take(&rest);
  return rest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness h;
  if (size == 0) return 0;
  std::vector<ArCheckState> before;
  unsigned pick = data[0];  // each reference's state in base 5; the rest is the command
  for (ArCheck& check : h.ctx.config->checks) {
    before.push_back(check.state = static_cast<ArCheckState>(kArNormal + pick % 5));
    pick /= 5;
  }
  link_drop_queued(&h.ctx.link);
  h.ctx.engine.silences.clear();
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (control_handle(h.ctx.engine, text.c_str()) != 0) abort();
  int changed = 0, i = 0;
  for (const ArCheck& check : h.ctx.config->checks) {
    const ArCheckState was = before[i++];
    if (check.state == was) continue;
    // Only to Timeout, from Triggered or Resolving, and never the second reference of rule 2.
    if (++changed > 1 || i == 3 || check.state != kArTimeout || (was != kArTriggered && was != kArResolving)) abort();
  }
  for (const auto& [path, silences] : h.ctx.engine.silences) {
    if (command_field(std::string(rest_of(text)).c_str()) != "silence") abort();
    const Silence& s = silences.front();
    const uint32_t refs = path == h.ctx.config->rules[0].path() ? 1 : path == h.ctx.config->rules[1].path() ? 2 : 0;
    if (++changed > 1 || silences.size() != 1 || refs == 0 || s.ref > refs ||
        s.until_ms > h.clock.monotonic_ms() + int64_t{kMaxSilenceSeconds} * 1000) {
      abort();
    }
  }
  // The line may be cut right after these words when the origin is not valid UTF-8. A text with an id is answered
  // once, last, accepted exactly when it changed something; one without is not answered.
  std::vector<std::string> q = link_queued(&h.ctx.link);
  std::string_view rest = text;
  if (const std::optional<std::string> id = control_id_take(&rest)) {
    const std::string answer = *id + (changed > 0 ? " accepted" : " refused ");
    if (q.empty() || !answers(q.back()) || q.back().find(answer) == std::string::npos) abort();
    q.pop_back();
  }
  for (const std::string& m : q) {
    if (answers(m)) abort();
  }
  if (changed == 0 ? !q.empty() : q.empty() || q.front().find("Control Message ") == std::string::npos) abort();
  return 0;
}
