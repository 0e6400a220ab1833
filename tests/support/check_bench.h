// Check modules without a daemon: one rule's settings in a file of its own and one ArCheck of it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "checks/check_type.h"
#include "model/autoresponse.h"
#include "support/e2e.h"

using Settings = std::vector<std::pair<std::string, std::string>>;

// The rule's path; reasons name it.
inline const std::string kBenchRule = "config.autoresponse.autoresponse1";

class CheckBench {
 public:
  CheckBench();
  ~CheckBench();
  // The rule of type with settings under its path ("config..." keys stand where they say), reference ref.
  CheckBench& rule(const std::string& type, const Settings& settings, uint32_t ref = 1);
  // One update in state: "-" dropped, "=" refreshed, "?" no reading; a trigger or resolve by its reason with the rule's part
  // cut short: "T x" for "AR <rule> triggered. val x", "R x" for "AR <rule> resolving. val x" and "r x"
  // for "ar <rule> resolving. val x". Any other reason stays whole after the outcome's name.
  std::string on(ArCheckState state, const std::string& key, const std::string& value);
  // on() for the values in turn, the state following each outcome (a resolve ends in Normal).
  std::vector<std::string> walk(const std::string& key, const std::vector<std::string>& values);
  std::string key();  // the subscription key; "-" when there is none, the module's reason logged as the loader does
  // describe_device, and describe_trigger of the current event key=value: "result|a|b|c", "-" for no text.
  std::string device();
  std::string trigger(const std::string& key, const std::string& value);
  std::vector<std::string> errors() const;  // the log lines above priority 600, in order

  AutoResponse ar;
  ArCheck check;
  LogCapture log;
  std::vector<LogRecord>& logs = log.records;

 private:
  e2e::TempDir dir_;  // of its own: the database watches it
  std::string file_ = dir_.path() + "/config.xml";
};
