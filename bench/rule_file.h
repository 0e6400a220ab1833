// A large configuration file for the benchmarks: rules 1..n, each an
// environmental check of its own port's temperature with one reference,
// two trigger actions (power off after 30 s, an e-mail) and one resolve
// action (power on). About 890 bytes per rule, laid out as ConfigBuilder
// writes it (each closing tag on its own line), but written straight into
// one string: ConfigBuilder looks every path up among the siblings and
// takes seconds for 10,000 rules.
#pragma once

#include <functional>
#include <string>

namespace bench {

// Appends <name>value</name> and a line end.
inline void leaf(std::string* out, const char* name, const std::string& value) {
  *out += '<';
  *out += name;
  *out += '>';
  *out += value;
  *out += "</";
  *out += name;
  *out += ">\n";
}

inline void rpc_action(std::string* out, const char* name, const char* power, const char* delay) {
  leaf(out, "name", name);
  leaf(out, "action_type", "rpc");
  if (*delay) leaf(out, "delay_time", delay);
  *out += "<rpc>";
  leaf(out, "rpc_ref", "config.ports.port5");
  leaf(out, "outlet", "3");
  leaf(out, "action", power);
  *out += "</rpc>\n";
}

// The text of rule n's <note>, an element nothing reads; none when empty.
using RuleNote = std::function<std::string(int n)>;

// The whole file with config.autoresponse.total = rules and, when
// cms_nodes > 0, central management on with that many nodes; each rule
// with the note that note gives it, when given.
inline std::string rule_file(int rules, int cms_nodes = 0, const RuleNote& note = nullptr) {
  std::string out = "<?xml version=\"1.0\"?>\n<config><autoresponse>";
  out.reserve(static_cast<size_t>(rules) * 900 + 100);
  leaf(&out, "total", std::to_string(rules));
  for (int n = 1; n <= rules; ++n) {
    const std::string tag = "autoresponse" + std::to_string(n), port = std::to_string(n);
    out += "<" + tag + ">";
    leaf(&out, "name", "rule" + port);
    if (note != nullptr && !note(n).empty()) leaf(&out, "note", note(n));
    leaf(&out, "check_type", "environmental");
    out += "<enviro>";
    leaf(&out, "check_type", "temp");
    leaf(&out, "dev_ref", "config.ports.port" + port + ".enviro");
    leaf(&out, "trigger_val", "35");
    leaf(&out, "hysteresis", "2");
    out += "</enviro>\n<trigger_actions>";
    leaf(&out, "total", "2");
    out += "<action1>";
    rpc_action(&out, "cut rack power", "off", "30");
    out += "</action1>\n<action2>";
    leaf(&out, "name", "mail ops");
    leaf(&out, "action_type", "email");
    out += "<email>";
    leaf(&out, "to_addr", "ops@example.com");
    leaf(&out, "subject", "$AR_CHECK_DEV at $AR_VAL");
    out += "</email>\n</action2>\n</trigger_actions>\n<resolve_actions>";
    leaf(&out, "total", "1");
    out += "<action1>";
    rpc_action(&out, "power on", "on", "");
    out += "</action1>\n</resolve_actions>\n</" + tag + ">\n";
  }
  out += "</autoresponse>\n";
  if (cms_nodes > 0) {
    out += "<cms>";
    leaf(&out, "enabled", "on");
    for (int n = 1; n <= cms_nodes; ++n) {
      const std::string tag = "cms" + std::to_string(n);
      out += "<" + tag + "><node>";
      leaf(&out, "name", "node" + std::to_string(n));
      out += "</node></" + tag + ">\n";
    }
    out += "</cms>\n";
  }
  out += "</config>\n";
  return out;
}

}  // namespace bench
