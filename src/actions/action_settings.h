// What the queue operations of the action kinds share: reading an action's
// settings as owned copies, building "%s=%s" environment entries, and
// turning the queue's answer into the operation's result.
#pragma once

#include <cstdint>
#include <string>

#include "base/log.h"
#include "model/action.h"
#include "model/archeck.h"
#include "model/autoresponse.h"
#include "model/bounds.h"
#include "platform/xmldb.h"

// The settings of one action under its configuration path and a kind
// suffix such as ".rpc". Every text is returned as a copy, because a
// database text lives only for a few further reads.
class ActionSettings {
 public:
  ActionSettings(const ArCheck* check, const Action& action, const char* suffix)
      : db_(check->conf.ar->config_db), prefix_(action_path(*check->conf.ar, action) + suffix) {}

  const std::string& prefix() const { return prefix_; }
  // prefix.key; "" when absent.
  std::string text(const std::string& key) const { return xmldb_getstring(db_, prefix_.c_str(), key.c_str()); }
  // prefix.key as a number; 0 when absent.
  int32_t integer(const std::string& key) const { return xmldb_getsize(db_, prefix_.c_str(), key.c_str()); }
  // prefix.key as a count of at most limit (a larger one is cut, logged).
  int32_t total(const std::string& key, int32_t limit) const {
    return bounded_total(db_, prefix_.c_str(), key.c_str(), limit);
  }
  // Any other setting, under an explicit prefix.
  std::string text_at(const std::string& prefix, const std::string& key) const {
    return xmldb_getstring(db_, prefix.c_str(), key.c_str());
  }

 private:
  xmldb_t* db_;
  std::string prefix_;
};

// One environment entry for a script: name=value.
inline std::string env_entry(const char* name, const std::string& value) { return std::string(name) + "=" + value; }

// A program path in a directory named with or without its trailing slash.
inline std::string path_in(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// The result of an operation whose action went to the queue: a refusal (1)
// logs refusal_format with argument at priority 0 and fails; anything else
// leaves the action Queued.
inline int action_queued(int queue_result, ActionStatus* status, const char* refusal_format,
                         const std::string& argument) {
  if (queue_result == 1) {
    ar_log(kLogFatal, refusal_format, argument.c_str());
    return -1;
  }
  *status = kActionQueued;
  return 0;
}
