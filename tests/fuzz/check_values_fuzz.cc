// fuzz-seconds: 30
// libFuzzer target: arbitrary update keys and values (readings, signal
// levels, UPS status texts, login and pattern reports) through the power,
// UPS state and serial checks of a loaded daemon, by the link's message
// handler and straight to each check. Every update must be handled with 0,
// leave nothing pending, and leave the checks describable.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "checks/check_type.h"
#include "config/archeck.h"
#include "config/autoresponse.h"
#include "core/check_event.h"
#include "core/clock.h"
#include "core/context.h"
#include "core/control.h"
#include "core/link.h"
#include "core/log.h"
#include "core/paths.h"
#include "engine/state.h"

namespace {

class StillClock final : public Clock {
 public:
  int64_t monotonic_seconds() override { return 1000; }
  time_t wall_seconds() override { return 1700000000; }
};

// Nothing is ever started; the queue frees a refused slot at once.
class NoSpawner final : public Spawner {
 public:
  pid_t spawn(const char*, char* const[], char* const[]) override {
    errno = EAGAIN;
    return -1;
  }
};

// One rule: its check type and its settings below the rule's path.
struct Rule {
  const char* check_type;
  std::vector<std::pair<const char*, const char*>> settings;
};

const std::vector<Rule>& rules() {
  static const std::vector<Rule> kRules = {
      {"power", {{"power.check_type", "output.load"}, {"power.dev_ref", "config.ups.ups1"},
                 {"power.trigger_val", "80"}, {"power.hysteresis", "5"}}},
      {"power", {{"power.check_type", "charge"}, {"power.dev_ref", "config.ups.ups1"},
                 {"power.trigger_val", "20"}, {"power.hysteresis", "10"}, {"power.comparison", "lesser"}}},
      {"power", {{"power.check_type", "humid"}, {"power.dev_ref", "config.powersupplies.psu1"},
                 {"power.trigger_val", "1"}, {"power.hysteresis", "1"}}},
      {"power", {{"power.check_type", "temp"}, {"power.dev_ref", "config.powersupplies.psu1"},
                 {"power.hysteresis", "1"}}},
      {"ups_status", {{"ups.state.trigger_cond", "onbatt"}, {"ups.state.dev_ref", "config.ups.ups1"}}},
      {"ups_status", {{"ups.state.trigger_cond", "online"}, {"ups.state.dev_ref", "config.ups.ups2"}}},
      {"serial_signal",
       {{"serial.signal.dev_refs.total", "2"},
        {"serial.signal.dev_refs.dev_ref1", "config.ports.port1"},
        {"serial.signal.dev_refs.dev_ref2", "config.ports.port2"},
        {"serial.signal.signal", "dcd"},
        {"serial.signal.trigger_val", "1"}}},
      {"serial_signal",
       {{"serial.signal.dev_refs.total", "1"},
        {"serial.signal.dev_refs.dev_ref1", "config.ports.port1"},
        {"serial.signal.signal", "CTS"},
        {"serial.signal.trigger_on_change", "on"}}},
      {"serial_login",
       {{"serial.login.dev_refs.total", "1"},
        {"serial.login.dev_refs.dev_ref1", "config.ports.port1"},
        {"serial.login.trigger_login", "on"},
        {"serial.login.trigger_logout", "on"}}},
      {"serial_login",
       {{"serial.login.dev_refs.total", "1"},
        {"serial.login.dev_refs.dev_ref1", "config.ports.port2"},
        {"serial.login.trigger_logout", "on"}}},
      {"serial_pattern",
       {{"serial.pattern.dev_refs.total", "1"},
        {"serial.pattern.dev_refs.dev_ref1", "config.ports.port1"},
        {"serial.pattern.pattern", "panic"},
        {"serial.pattern.trigger_rx", "on"}}},
  };
  return kRules;
}

// A configuration element built from dotted paths.
struct Element {
  std::string name;
  std::string value;
  std::vector<Element> children;

  Element& at(const std::string& path) {
    const size_t dot = path.find('.');
    const std::string first = path.substr(0, dot);
    Element* child = nullptr;
    for (Element& e : children) {
      if (e.name == first) child = &e;
    }
    if (child == nullptr) {
      children.push_back(Element{first, "", {}});
      child = &children.back();
    }
    return dot == std::string::npos ? *child : child->at(path.substr(dot + 1));
  }
  std::string xml() const {
    std::string out = "<" + name + ">" + value;
    for (const Element& e : children) out += e.xml();
    return out + "</" + name + ">";
  }
};

std::string config_xml() {
  Element root{"config", "", {}};
  root.at("ports.port2.label").value = "console";
  root.at("ups.ups1.name").value = "Rack UPS";
  root.at("autoresponse.total").value = std::to_string(rules().size());
  for (size_t n = 1; n <= rules().size(); ++n) {
    const Rule& rule = rules()[n - 1];
    Element& r = root.at("autoresponse.autoresponse" + std::to_string(n));
    r.at("name").value = "r" + std::to_string(n);
    r.at("check_type").value = rule.check_type;
    // Every second rule holds its Triggered state behind a delayed action.
    if (n % 2 == 0) {
      r.at("trigger_actions.total").value = "1";
      r.at("trigger_actions.action1.name").value = "hold";
      r.at("trigger_actions.action1.action_type").value = "custom";
      r.at("trigger_actions.action1.delay_time").value = "3600";
    }
    for (const auto& [key, value] : rule.settings) r.at(key).value = value;
  }
  return "<?xml version=\"1.0\"?>\n" + root.xml() + "\n";
}

// Formats every log line, as syslog would, and drops it.
void ignore_log(int, const char* message, void*) {
  if (message == nullptr) abort();
}

// The private directory of the configuration file, removed at exit.
std::string g_dir;

void remove_dir() {
  unlink((g_dir + "/config.xml").c_str());
  rmdir(g_dir.c_str());
}

struct Harness {
  Harness() {
    char tmpl[] = "/tmp/ar-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) abort();
    dir = tmpl;
    g_dir = dir;
    atexit(remove_dir);
    paths = Paths::under(dir);
    const std::string config = dir + "/config.xml";
    std::ofstream(config) << config_xml();
    setenv("XMLDB_PATH", config.c_str(), 1);
    ctx.paths = &paths;
    ctx.clock = &clock;
    ctx.spawner = &spawner;
    ctx.control_key = kControlTable.key;
    ctx.infod_fd = -1;
    ctx.write_event_added = true;  // no socket: messages stay queued
    log_set_observer(ignore_log, nullptr);
    if (load_config(&ctx) != 0 || ctx.checks.size() < rules().size()) abort();
    ctx.out_queue.clear();
  }

  void reset() {
    for (ArCheck& check : ctx.checks) ar_normal(&check);
    ctx.out_queue.clear();
    ctx.action_queue.clear();
    ctx.queued_actions = 0;
    ctx.running_actions = 0;
  }

  ArCheck* nth(size_t n) {
    auto it = ctx.checks.begin();
    std::advance(it, static_cast<long>(n % ctx.checks.size()));
    return &*it;
  }

  void deliver(const std::string& key, const std::string& value) {
    std::string body = "8";
    body += kRS + key + kRS + "0" + kRS + "1700000000000" + kRS + value + "\r\n";
    ctx.body.assign(body.begin(), body.end());
    ctx.body.push_back('\0');
    ctx.body_len = static_cast<uint32_t>(body.size());
    if (link_handle_message(&ctx) != 0) abort();
  }

  std::string dir;
  Paths paths;
  StillClock clock;
  NoSpawner spawner;
  DaemonContext ctx;
};

// Every update was taken off and ended in one of the four ways.
void check_settled(const ArCheck* check) {
  if (!check->pending.empty()) abort();
  if (check->state < kArNormal || check->state > kArDisabled) abort();
}

// The describing operations agree with the check's current event.
void check_describable(ArCheck* check) {
  OptionalText a, b, c;
  check->ops->describe_device(check, &a, &b, &c);
  const bool has_event = check->current_event != nullptr;
  if ((check->ops->describe_trigger(check, &a, &b, &c) == 0) != has_event) abort();
  std::string key;
  if (check->ops->subscription_key(check, &key) != 0 || key != check->subscription) abort();
}

}  // namespace

// Records separated by '\n': a selector byte, then key RS value. The
// selector picks a raw key through the link, one check's subscription with
// the key appended through the link, or the same handed straight to it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Harness* h = new Harness();
  h->reset();
  const std::string input(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    const std::string record = input.substr(start, end - start);
    start = end + 1;
    if (record.empty()) continue;
    const unsigned selector = static_cast<unsigned char>(record[0]);
    const std::string rest = record.substr(1);
    const size_t rs = rest.find(kRS);
    std::string key = rest.substr(0, rs);
    const std::string value = rs == std::string::npos ? "" : rest.substr(rs + 1);
    ArCheck* check = h->nth(selector / 3);
    if (selector % 3 != 0) key = check->subscription + key;
    if (selector % 3 == 2) {
      // Straight to the check: a C string ends at the first NUL.
      if (check_append_event(check, key.c_str(), 0, 0, value.c_str()) != 0) abort();
    } else {
      h->deliver(key, value);
    }
    for (const ArCheck& c : h->ctx.checks) check_settled(&c);
    h->ctx.out_queue.clear();
  }
  for (ArCheck& c : h->ctx.checks) check_describable(&c);
  return 0;
}
