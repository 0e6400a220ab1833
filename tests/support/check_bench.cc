// The check bench.
#include "support/check_bench.h"

#include "base/log.h"

namespace {

template <class Describe>
std::string described(Describe describe, const ArCheck* check) {
  OptionalText o[3];
  const int result = describe(check, &o[0], &o[1], &o[2]);
  return std::to_string(result) + "|" + o[0].value_or("-") + "|" + o[1].value_or("-") + "|" + o[2].value_or("-");
}

}  // namespace

CheckBench::CheckBench() {
  e2e::write_file(file_, "<config/>\n");
  ar.config_db = xmldb_open(file_.c_str());
  ar.name = "bench";
  ar.index = 1;
  check.conf.ar = &ar;
}

CheckBench::~CheckBench() { xmldb_close(ar.config_db); }

CheckBench& CheckBench::rule(const std::string& type, const Settings& settings, uint32_t ref) {
  ConfigBuilder c;
  for (const auto& [key, value] : settings) c.set(key.rfind("config.", 0) == 0 ? key : kBenchRule + "." + key, value);
  e2e::write_file(file_, c.xml());
  const CheckType* row = check_type_named(type.c_str());
  ar.kind = row;
  check.conf.ops = &row->ops;
  check.conf.ref_index = ref;
  return *this;
}

std::string CheckBench::on(ArCheckState state, const std::string& key, const std::string& value) {
  check.state = state;
  const CheckOutcome o = check.conf.ops->on_event(&check, CheckEvent{key, 0, 0, value});
  const std::pair<CheckOutcomeKind, std::string> shorts[] = {
      {CheckOutcomeKind::kTrigger, "T AR " + kBenchRule + " triggered. val "},
      {CheckOutcomeKind::kResolve, "R AR " + kBenchRule + " resolving. val "},
      {CheckOutcomeKind::kResolve, "r ar " + kBenchRule + " resolving. val "}};
  for (const auto& [kind, head] : shorts) {
    if (o.kind == kind && o.reason.compare(0, head.size() - 2, head, 2) == 0) {
      return head.substr(0, 2) + o.reason.substr(head.size() - 2);
    }
  }
  if (o.reason.empty() && o.kind == CheckOutcomeKind::kDrop) return "-";
  if (o.reason.empty() && o.kind == CheckOutcomeKind::kRefresh) return "=";
  if (o.kind == CheckOutcomeKind::kNotReading && o.reason == "Reading is not a number for AR bench: " + value) return "?";
  return std::string(check_outcome_name(o.kind)) + ": " + o.reason;
}

std::vector<std::string> CheckBench::walk(const std::string& key, const std::vector<std::string>& values) {
  std::vector<std::string> out;
  ArCheckState state = kArNormal;
  for (const std::string& value : values) {
    out.push_back(on(state, key, value));
    if (out.back()[0] == 'T') state = kArTriggered;
    if (out.back()[0] == 'R' || out.back()[0] == 'r') state = kArNormal;
  }
  return out;
}

std::string CheckBench::key() {
  std::string k;
  CheckReason why;
  const int made = check.conf.ops->subscription_key(&check, &k, &why);
  if (!why.text.empty()) ar_log(why.priority, "%s", why.text.c_str());
  return made == 0 ? k : "-";
}

std::string CheckBench::device() { return described(check.conf.ops->describe_device, &check); }

std::string CheckBench::trigger(const std::string& key, const std::string& value) {
  check.current_event = std::make_unique<CheckEvent>(CheckEvent{key, 0, 0, value});
  return described(check.conf.ops->describe_trigger, &check);
}

std::vector<std::string> CheckBench::errors() const {
  std::vector<std::string> out;
  for (const LogRecord& r : logs) if (r.priority < kLogInfo) out.push_back(r.text);
  return out;
}
