// What an action kind's queue operation works with (ActionEnv): the fixed
// paths it starts programs from, the SMS spool, the clock, the host's
// name, infod for the kinds that command it, and the queue that takes a
// program to run (ActionSink).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/archeck.h"

class Clock;
class Publisher;
struct Action;
struct Paths;

// Where SMS messages go: one file per message and number in the spool
// directory; `arctl test` records them instead.
class SmsSpool {
 public:
  virtual ~SmsSpool() = default;
  enum Result { kDelivered, kNotCreated, kNotMoved };
  // Spools message for one number. A file that could not be created ends
  // the walk over the recipients; one that could not be moved does not.
  virtual Result spool(const std::string& number, const std::string& message) = 0;
};

// The spool directories of the paths.
class DirectorySmsSpool final : public SmsSpool {
 public:
  explicit DirectorySmsSpool(const Paths& paths) : paths_(paths) {}
  Result spool(const std::string& number, const std::string& message) override;

 private:
  const Paths& paths_;
};

// Takes the program an action runs: the action queue (actions/queue.h).
class ActionSink {
 public:
  virtual ~ActionSink() = default;
  // Copies the command and queues it for check's rule and the entry status
  // of action; 1 when refused, else 0.
  virtual int enqueue(ArCheck* check, const Action& action, ActionStatus* status, const std::string& path,
                      const std::vector<std::string>& argv, const std::vector<std::string>& envp, int32_t tag) = 0;
};

struct ActionEnv {
  const Paths& paths;
  SmsSpool& spool;
  Clock& clock;  // the wall clock of $TIMESTAMP and the SNMP alerts
  // What $HOSTNAME gives: this name when set, else the system's, asked
  // when the token occurs.
  std::optional<std::string> hostname = std::nullopt;
  Publisher& publisher;  // commands to infod (the interface action)
  ActionSink& queue;
};
