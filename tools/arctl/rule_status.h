// What arctl tells of each rule and reference the daemon runs, as the
// daemon shows it in infod (its state and value, its shown restart record,
// its latest update, bursts, holds and silences), for status and explain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arctl/daemon_view.h"
#include "arctl/offline.h"
#include "engine/restart_record.h"

class InfodConnection;

struct ReferenceStatus {
  uint32_t number = 0;
  std::string device;       // "" when the file does not say, or it has none of its own
  bool subscribed = true;   // the daemon made it
  std::optional<std::string> state, value;  // as infod holds them
  // The rule's record of the reference, when it is of the state published:
  // a record a moment behind the state tells nothing about it.
  std::optional<RestartReference> kept;
  std::optional<RestartSilence> silence;  // in force now
  // The latest update of its key, taken or dropped: its wall time in
  // milliseconds and its value.
  std::optional<std::pair<int64_t, std::string>> latest;
  std::optional<BurstEntry> burst;  // counting now
  // Held back while another rule is Triggered or Resolving: that rule's
  // name, and what it holds so far.
  std::optional<std::string> held_while;
  std::vector<std::string> held_actions;
};

struct RuleStatus {
  uint32_t number = 0;
  std::string path, name, check_type;
  bool loaded = true;
  int32_t burst_count = 0, burst_window = 0;  // 0 when the file does not say
  std::vector<ReferenceStatus> references;
  std::vector<RestartSilence> silences;  // in force now
};

// The rules as the file names them, which are the ones the daemon loaded;
// as the daemon names them, when the file no longer says.
std::vector<RuleStatus> rules_of_file(const OfflineConfig& config);
std::vector<RuleStatus> rules_of_daemon(const DaemonView& view);

// Reads every reference's state, current value and latest update and every
// rule's shown record with one pipelined round of gets, and takes the
// bursts and holds from view; false when infod does not answer.
bool read_rules(InfodConnection& infod, const DaemonView& view, std::vector<RuleStatus>* rules, int64_t now_ms);

// Milliseconds since the epoch as arctl shows them.
std::string time_of_ms(int64_t ms);

// The waiting delayed actions of a reference in list order, each with
// when it can really start: the daemon offers them strictly in order, so
// one waits for every action before it to fall due; and the name of the
// one it waits for, "" when it waits for none.
struct Start {
  const RestartDue* due;
  int64_t start_ms;
  std::string behind;
};
std::vector<Start> starts_of(const RestartReference& kept);

// What falls due next for a reference, its burst, its latest update, its
// hold and its silence, a line each.
std::vector<std::string> notes_of(const RuleStatus& rule, const ReferenceStatus& ref);
