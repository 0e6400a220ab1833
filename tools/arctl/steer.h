// What the commands that steer a rule of the running daemon share (cancel,
// silence, unsilence): who asks, the proven daemon and its rule, the
// command sent and the daemon's answer, and the rule's silences as the
// daemon keeps them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "arctl/arctl.h"
#include "arctl/daemon_view.h"
#include "arctl/infod.h"
#include "engine/control_text.h"
#include "engine/restart_record.h"

// How long the daemon may take to answer a command.
constexpr int kActWaitMs = 3000;

// Who asks, as the daemon logs it ("Control Message from NAME: ..."):
// --as, else the user sudo ran arctl for, else the login name of the real
// user (its number when the system has no name for it). null, after a
// usage error of command on err saying it "cannot name who " doing, when
// that cannot stand in the command.
std::optional<std::string> origin_of(const Invocation& inv, const Command& command, const char* doing);

// The running daemon, proven (daemon_view.h), and the rule it runs that
// the first word names.
struct SteeredRule {
  InfodConnection infod;
  DaemonView view;
  const LoadedRule* rule = nullptr;
  std::string path;   // config.autoresponse.autoresponseN
  std::string label;  // "rule N (NAME)"
};

// 0 with *steered, or, after saying why on err, the exit status: 1 for no
// such rule or infod not reached, kExitNotRunning for no proven daemon.
int steer_rule(Invocation& inv, SteeredRule* steered);

// Pushes the control text of verb with args (engine/control_text.h) for
// the rule from origin, with an id of arctl's own, says so on out ("sent
// ... (rule N, NAME)"), and waits at most kActWaitMs for the daemon's
// answer. 0 when the daemon accepted it; 1 after saying on err that it
// could not be sent, that the daemon refused it and why, or that no answer
// came.
int command_daemon(Invocation& inv, SteeredRule& steered, const std::string& origin, ControlVerb verb,
                   const std::string& args);

// The rule's kept record as infod holds it (an empty one when infod holds
// none or no record); false when infod does not answer.
bool read_restart_rule(InfodConnection& infod, uint32_t rule_number, RestartRule* record);

// The reference --ref names, 0 (every reference) without it: true with
// *ref, or false after a usage error of command on err.
bool reference_option(const Invocation& inv, const Command& command, uint32_t* ref);
