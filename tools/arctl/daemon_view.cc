// Reading the daemon's own status keys.
#include "arctl/daemon_view.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sstream>

#include "arctl/infod.h"
#include "arctl/text.h"
#include "daemon/daemon_status.h"
#include "engine/tick.h"
#include "model/autoresponse.h"

namespace {

int64_t to_number(const std::optional<std::string>& text) {
  return text ? strtoll(text->c_str(), nullptr, 10) : 0;
}

bool all_digits(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!isdigit(c)) return false;
  }
  return true;
}

// The ';'-separated entries of a list key; none for "-".
std::vector<std::string> entries(const std::optional<std::string>& text) {
  std::vector<std::string> out;
  if (!text || *text == "-") return out;
  std::istringstream in(*text);
  for (std::string entry; std::getline(in, entry, ';');) out.push_back(entry);
  return out;
}

}  // namespace

bool DaemonView::alive(int64_t now) const { return heartbeat > 0 && now - heartbeat <= 2 * kTickSeconds; }

bool read_daemon_view(InfodConnection& infod, DaemonView* view) {
  const char* const names[] = {kStatusPid,         kStatusStarted,      kStatusHeartbeat,      kStatusReloadTime,
                               kStatusReloadResult, kStatusReloadMtime, kStatusReloadChecksum, kStatusLoaded,
                               kStatusQueue};
  std::optional<std::string> values[sizeof names / sizeof names[0]];
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if (!infod.get(daemon_status_key(names[i]), &values[i])) return false;
  }
  *view = DaemonView();
  view->published = values[0].has_value();
  view->pid = static_cast<pid_t>(to_number(values[0]));
  view->started = to_number(values[1]);
  view->heartbeat = to_number(values[2]);
  view->reload_time = to_number(values[3]);
  view->reload_result = values[4].value_or("");
  view->reload_mtime = to_number(values[5]);
  view->reload_checksum = values[6].value_or("");
  for (const std::string& entry : entries(values[7])) {
    std::istringstream in(entry);
    LoadedRule rule;
    std::string refs, name;
    in >> rule.number >> refs >> rule.check_type >> name;
    rule.name = status_unescape(name);
    // Runs of reference numbers, "1-3,5"; a run longer than a rule can
    // have is no list of the daemon's.
    std::istringstream runs(refs == "-" ? "" : refs);
    for (std::string run; std::getline(runs, run, ',');) {
      const unsigned long first = strtoul(run.c_str(), nullptr, 10);
      const size_t dash = run.find('-');
      const unsigned long last = dash == std::string::npos ? first : strtoul(run.c_str() + dash + 1, nullptr, 10);
      for (unsigned long n = first; n <= last && n - first < kMaxReferences; ++n) {
        rule.references.push_back(static_cast<uint32_t>(n));
      }
    }
    view->loaded.push_back(rule);
  }
  for (const std::string& entry : entries(values[8])) {
    std::istringstream in(entry);
    QueueEntry queued;
    std::string state;
    in >> state >> queued.since >> queued.rule_path >> queued.action_path;
    queued.running = state == "running";
    view->queue.push_back(queued);
  }
  return true;
}

int reach_running_daemon(const std::string& socket, InfodConnection* infod, DaemonView* view, std::ostream& err) {
  std::string error;
  if (!infod->open(socket, &error)) {
    err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  if (!read_daemon_view(*infod, view)) {
    err << "arctl: infod at " << visible(socket) << " does not answer\n";
    return 1;
  }
  if (!view->alive(time(nullptr)) || view->pid <= 0) {
    say_not_running(*view, err);
    return kExitNotRunning;
  }
  return 0;
}

std::string local_time_text(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&t, &local) != nullptr) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void say_not_running(const DaemonView& view, std::ostream& err) {
  if (view.heartbeat > 0) {
    err << "arctl: daemon not running: its last heartbeat was at " << local_time_text(view.heartbeat) << "\n";
  } else {
    err << "arctl: daemon not running: infod holds no heartbeat of it\n";
  }
}

const LoadedRule* find_loaded_rule(const DaemonView& view, const std::string& word, std::ostream& err) {
  const size_t prefix = strlen(kRulePathPrefix);
  std::string number;
  if (all_digits(word)) {
    number = word;
  } else if (word.compare(0, prefix, kRulePathPrefix) == 0 && all_digits(word.substr(prefix))) {
    number = word.substr(prefix);
  }
  std::vector<const LoadedRule*> found;
  for (const LoadedRule& rule : view.loaded) {
    if (number.empty() ? rule.name == word : std::to_string(rule.number) == number) found.push_back(&rule);
  }
  if (found.size() == 1) return found[0];
  if (found.empty()) {
    err << "arctl: the daemon runs no rule " << (number.empty() ? "named " + visible(word) : number)
        << " ('arctl status' lists them)\n";
  } else {
    err << "arctl: " << found.size() << " rules are named " << visible(word) << " (";
    for (size_t i = 0; i < found.size(); ++i) err << (i > 0 ? ", " : "") << found[i]->number;
    err << "); give its number\n";
  }
  return nullptr;
}

std::string loaded_rule_path(const LoadedRule& rule) { return kRulePathPrefix + std::to_string(rule.number); }

std::string reference_state_key(const std::string& rule_path, uint32_t reference) {
  return rule_path + ".refs.ref" + std::to_string(reference) + ".status";
}

std::string reference_value_key(const std::string& rule_path, uint32_t reference) {
  return rule_path + ".refs.ref" + std::to_string(reference) + ".curr_entry.status";
}
