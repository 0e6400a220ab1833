// fuzz-seconds: 30
// libFuzzer target: arbitrary update keys and values through the power, UPS state and serial checks of a
// loaded daemon, every log line formatted. Each update is handled with 0 and leaves every reference in a
// state; the describing operations agree with each check's state.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "checks/check_type.h"
#include "daemon/context.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "engine/state.h"
#include "link/link.h"

namespace {

// Rules 1, 3 and 5 hold Triggered behind an action that waits an hour. No tick runs it: no spawner, and of the
// paths only the configuration file's.
const std::string kHold = "<trigger_actions><total>1</total><action1><name>hold</name><action_type>custom"
                          "</action_type><delay_time>3600</delay_time></action1></trigger_actions>";
const std::string kPort1 = "<dev_refs><total>1</total><dev_ref1>config.ports.port1</dev_ref1></dev_refs>";
const std::string kConfig =
    "<config><autoresponse><total>5</total><autoresponse1><name>r1</name><check_type>power</check_type>" + kHold +
    "<power><check_type>output.load</check_type><dev_ref>config.ups.ups1</dev_ref><trigger_val>80</trigger_val>"
    "<hysteresis>5</hysteresis></power></autoresponse1><autoresponse2><name>r2</name><check_type>ups_status"
    "</check_type><ups><state><trigger_cond>onbatt</trigger_cond><dev_ref>config.ups.ups1</dev_ref></state></ups>"
    "</autoresponse2><autoresponse3><name>r3</name><check_type>serial_signal</check_type>" + kHold + "<serial>"
    "<signal><dev_refs><total>2</total><dev_ref1>config.ports.port1</dev_ref1><dev_ref2>config.ports.port2"
    "</dev_ref2></dev_refs><signal>dcd</signal><trigger_val>1</trigger_val></signal></serial></autoresponse3>"
    "<autoresponse4><name>r4</name><check_type>serial_signal</check_type><serial><signal>" + kPort1 +
    "<signal>CTS</signal><trigger_on_change>on</trigger_on_change></signal></serial></autoresponse4><autoresponse5>"
    "<name>r5</name><check_type>serial_login</check_type>" + kHold + "<serial><login>" + kPort1 + "<trigger_login>on"
    "</trigger_login><trigger_logout>on</trigger_logout></login></serial></autoresponse5></autoresponse></config>\n";

struct Harness {
  Harness() {
    std::ofstream(file) << kConfig;
    setenv("XMLDB_PATH", file.c_str(), 1);
    paths.config_file = file;
    ctx.link.write_event_added = true;  // no socket: messages stay queued
    log_set_observer([](int, const char* line, void*) { if (line == nullptr) abort(); }, nullptr);
    if (load_config(&ctx) != 0 || ctx.config->checks.size() != 6) abort();
  }
  ~Harness() { unload_config(&ctx); unlink(file.c_str()); }
  const std::string file = "/tmp/ar-check-values-fuzz-" + std::to_string(getpid()) + ".xml";
  Paths paths;
  SystemClock clock;
  PlatformSpawner spawner;
  DaemonContext ctx{paths, clock, spawner};
};

}  // namespace

// Records separated by '\n': a selector byte, then key RS value. Odd selectors put the
// subscription of the check they pick before the key.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness h;
  for (ArCheck& check : h.ctx.config->checks) reference_normal(h.ctx.engine, &check);
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (size_t start = 0, end; start < input.size(); start = end + 1) {
    end = std::min(input.find('\n', start), input.size());
    if (end == start) continue;
    const auto selector = static_cast<unsigned char>(input[start]);
    const ArCheck& pick = *std::next(h.ctx.config->checks.begin(), static_cast<long>(selector / 2 % h.ctx.config->checks.size()));
    const std::string record = (selector % 2 ? pick.conf.subscription : "") + input.substr(start + 1, end - start - 1);
    const size_t rs = std::min(record.find(kRS), record.size());
    const std::string key = record.substr(0, rs), value = record.substr(std::min(rs + 1, record.size()));
    std::string body = update_body(key, 0, 1700000000000ULL, value);
    InfodMessage message;
    split_message(body.data(), &message);
    if (dispatch_message(&h.ctx, message) != 0) abort();
    for (auto& c : h.ctx.config->checks) if (c.state < kArNormal || c.state > kArDisabled) abort();
    link_drop_queued(&h.ctx.link);
  }
  for (ArCheck& c : h.ctx.config->checks) {
    OptionalText a, b, t;
    std::string key;
    c.conf.ops->describe_device(&c, &a, &b, &t);
    if ((c.conf.ops->describe_trigger(&c, &a, &b, &t) == 0) != (c.current_event != nullptr)) abort();
    if (c.conf.ops->subscription_key(&c, &key, nullptr) != 0 || key != c.conf.subscription) abort();
  }
  return 0;
}
