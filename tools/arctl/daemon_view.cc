// Reading the daemon's own status keys.
#include "arctl/daemon_view.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <sstream>

#include "arctl/infod.h"
#include "arctl/text.h"
#include "base/process_start.h"
#include "daemon/daemon_status.h"
#include "daemon/pid_file.h"
#include "engine/tick.h"
#include "link/value_parts.h"
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

// The ';'-separated entries of a list; none for an empty one.
std::vector<std::string> entries(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string entry; std::getline(in, entry, ';');) out.push_back(entry);
  return out;
}

// A value published in parts (link/value_parts.h), joined; false when
// infod does not answer. *whole is false when the number of parts or one of
// them is missing.
bool read_parts(InfodConnection& infod, const std::string& key, std::string* value, bool* whole) {
  value->clear();
  *whole = false;
  std::optional<std::string> count;
  if (!infod.get(key, &count)) return false;
  if (!count || !all_digits(*count)) return true;
  const unsigned long parts = strtoul(count->c_str(), nullptr, 10);
  for (unsigned long n = 1; n <= parts; ++n) {
    std::optional<std::string> part;
    if (!infod.get(value_part_key(key, n), &part)) return false;
    if (!part) return true;
    *value += *part;
  }
  *whole = true;
  return true;
}

}  // namespace

LoadedRule parse_loaded_rule(const std::string& entry) {
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
  return rule;
}

QueueEntry parse_queue_entry(const std::string& entry) {
  std::istringstream in(entry);
  QueueEntry queued;
  std::string state, name;
  in >> state >> queued.since >> queued.rule_path >> queued.action_path >> name;
  queued.name = status_unescape(name);
  queued.running = state == "running";
  return queued;
}

std::optional<HoldEntry> parse_hold_entry(const std::string& entry) {
  std::istringstream in(entry);
  HoldEntry hold;
  std::string names, rest;
  if (!(in >> hold.rule >> hold.ref >> hold.holder >> names) || (in >> rest)) return std::nullopt;
  if (names != "-") {
    std::istringstream list(names);
    for (std::string name; std::getline(list, name, ',');) hold.actions.push_back(status_unescape(name));
  }
  return hold;
}

std::optional<FinishedEntry> parse_finished_entry(const std::string& entry) {
  std::istringstream in(entry);
  FinishedEntry f;
  std::string name, rest;
  if (!(in >> f.ms >> f.rule_path >> f.status >> name) || (in >> rest)) return std::nullopt;
  f.name = status_unescape(name);
  return f;
}

std::optional<BurstEntry> parse_burst_entry(const std::string& entry) {
  std::istringstream in(entry);
  BurstEntry burst;
  if (!(in >> burst.rule >> burst.ref >> burst.count >> burst.oldest_ms)) return std::nullopt;
  return burst;
}

std::optional<std::pair<int64_t, std::string>> parse_latest_update(const std::string& text) {
  const size_t blank = text.find(' ');
  if (blank == 0 || blank == std::string::npos || blank > 18 || text.find_first_not_of("0123456789") != blank) {
    return std::nullopt;
  }
  return std::make_pair(strtoll(text.c_str(), nullptr, 10), text.substr(blank + 1));
}

namespace {

// One reading of every key; false when infod does not answer.
bool read_once(InfodConnection& infod, DaemonView* view) {
  const char* const names[] = {kStatusPid,          kStatusPidStartTime, kStatusStarted,        kStatusHeartbeat,
                               kStatusReloadTime,   kStatusReloadResult, kStatusReloadMtime,    kStatusReloadChecksum,
                               kStatusReloadNumber, kStatusRules,         kStatusReloadChanges};
  std::optional<std::string> values[sizeof names / sizeof names[0]];
  for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if (!infod.get(daemon_status_key(names[i]), &values[i])) return false;
  }
  std::string loaded, queue, bursts, holds, finished;
  bool loaded_whole = false, queue_whole = false, bursts_whole = false, holds_whole = false, finished_whole = false;
  if (!read_parts(infod, daemon_status_key(kStatusLoaded), &loaded, &loaded_whole) ||
      !read_parts(infod, daemon_status_key(kStatusQueue), &queue, &queue_whole) ||
      !read_parts(infod, daemon_status_key(kStatusBursts), &bursts, &bursts_whole) ||
      !read_parts(infod, daemon_status_key(kStatusHolds), &holds, &holds_whole) ||
      !read_parts(infod, daemon_status_key(kStatusFinished), &finished, &finished_whole)) {
    return false;
  }
  *view = DaemonView();
  view->published = values[0].has_value();
  view->pid = static_cast<pid_t>(to_number(values[0]));
  view->pid_start_time = values[1].value_or("");
  view->started = to_number(values[2]);
  view->heartbeat = to_number(values[3]);
  view->reload_time = to_number(values[4]);
  view->reload_result = values[5].value_or("");
  view->reload_mtime = to_number(values[6]);
  view->reload_checksum = values[7].value_or("");
  view->reload_number = static_cast<uint64_t>(to_number(values[8]));
  view->reload_changes = values[10].value_or("");
  for (const std::string& entry : entries(loaded)) view->loaded.push_back(parse_loaded_rule(entry));
  view->loaded_whole = loaded_whole && values[9] && all_digits(*values[9]) &&
                       std::to_string(view->loaded.size()) == *values[9];
  for (const std::string& entry : entries(queue)) view->queue.push_back(parse_queue_entry(entry));
  for (const std::string& entry : entries(bursts)) {
    if (const std::optional<BurstEntry> burst = parse_burst_entry(entry)) view->bursts.push_back(*burst);
  }
  for (const std::string& entry : entries(holds)) {
    if (const std::optional<HoldEntry> hold = parse_hold_entry(entry)) view->holds.push_back(*hold);
  }
  for (const std::string& entry : entries(finished)) {
    if (const std::optional<FinishedEntry> f = parse_finished_entry(entry)) view->finished.push_back(*f);
  }
  return true;
}

// What the pid file at path says: the process that holds its lock and the
// pid written in it.
struct PidFileView {
  pid_t holder = 0;
  pid_t written = 0;  // 0 when it holds no process id
};

// Reads the pid file at path; false after saying in *why why it cannot
// stand as proof: only root (or whoever runs arctl, for the development
// daemon) may be able to write it, and so to hold its write lock.
bool read_pid_file(const std::string& path, PidFileView* file, std::string* why) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    *why = visible(path) + ": " + strerror(errno);
    return false;
  }
  struct stat st {};
  std::string text;
  char buffer[64];
  ssize_t n = 0;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    file->holder = pid_file_holder(fd);
    n = read(fd, buffer, sizeof buffer);
  }
  close(fd);
  if (!S_ISREG(st.st_mode) || (st.st_uid != 0 && st.st_uid != geteuid()) || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *why = visible(path) + " is no regular file that only its owner, root, can write";
    return false;
  }
  if (n > 0) text.assign(buffer, static_cast<size_t>(n));
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (all_digits(text) && text.size() <= 9) file->written = static_cast<pid_t>(strtol(text.c_str(), nullptr, 10));
  return true;
}

}  // namespace

bool DaemonView::alive(int64_t now) const { return heartbeat > 0 && now - heartbeat <= 2 * kTickSeconds; }

bool read_daemon_view(InfodConnection& infod, DaemonView* view) {
  // A load publishes its number after its other keys: the same number
  // before and after the reading means no load's keys were mixed in.
  constexpr int kTries = 3;
  for (int tried = 1;; ++tried) {
    std::optional<std::string> before;
    if (!infod.get(daemon_status_key(kStatusReloadNumber), &before) || !read_once(infod, view)) return false;
    if (static_cast<uint64_t>(to_number(before)) == view->reload_number || tried == kTries) {
      if (static_cast<uint64_t>(to_number(before)) != view->reload_number) view->loaded_whole = false;
      return true;
    }
  }
}

std::string unproven_daemon(const DaemonView& view, const std::string& pid_file) {
  std::string why;
  PidFileView file;
  if (!read_pid_file(pid_file, &file, &why)) return why;
  const std::string pid = std::to_string(view.pid);
  const std::string start_time = process_start_time(view.pid);
  if (file.holder <= 0) {
    // The kernel drops the lock when the daemon ends, however it ends: a
    // file left behind names a pid that may be anyone's by now.
    why = start_time.empty() ? "no process " + pid + " is running"
                             : "no process holds the lock of " + visible(pid_file) + ", so the daemon is not running";
  } else if (file.holder != view.pid) {
    why = "infod holds pid " + pid + ", the lock of " + visible(pid_file) + " is held by process " +
          std::to_string(file.holder);
  } else if (file.written <= 0) {
    why = visible(pid_file) + " holds no process id";
  } else if (file.written != view.pid) {
    why = "infod holds pid " + pid + ", " + visible(pid_file) + " holds " + std::to_string(file.written);
  } else if (start_time.empty()) {
    why = "no process " + pid + " is running";
  } else if (view.pid_start_time != start_time) {
    why = "process " + pid + " started at tick " + start_time + ", the daemon at " +
          (view.pid_start_time.empty() ? "a time infod does not hold" : "tick " + visible(view.pid_start_time));
  }
  return why;
}

int prove_running_daemon(const DaemonView& view, const std::string& pid_file, std::ostream& err) {
  const std::string why = unproven_daemon(view, pid_file);
  if (why.empty()) return 0;
  err << "arctl: the pid in infod is not the running daemon: " << why << "; nothing sent\n";
  return kExitNotRunning;
}

int reach_daemon_view(const std::string& socket, InfodConnection* infod, DaemonView* view, std::ostream& err) {
  std::string error;
  if (!infod->open(socket, &error)) {
    err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  if (!read_daemon_view(*infod, view)) {
    err << "arctl: infod at " << visible(socket) << " does not answer\n";
    return 1;
  }
  return 0;
}

int reach_running_daemon(const std::string& socket, InfodConnection* infod, DaemonView* view, std::ostream& err) {
  if (const int status = reach_daemon_view(socket, infod, view, err); status != 0) return status;
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

std::string not_running_reason(const DaemonView& view) {
  return view.heartbeat > 0 ? "its last heartbeat was at " + local_time_text(view.heartbeat)
                            : "infod holds no heartbeat of it";
}

void say_not_running(const DaemonView& view, std::ostream& err) {
  err << "arctl: daemon not running: " << not_running_reason(view) << "\n";
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
