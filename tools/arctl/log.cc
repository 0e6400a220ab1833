// `arctl log [-f] [--syslog FILE]`: the engine's log key, once or followed,
// and beside it what the daemon logged to syslog.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <string>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/text.h"
#include "link/link.h"

namespace {

// The daemon's lines already in the log when it is not followed.
constexpr size_t kSyslogLines = 20;
// How often a followed syslog file is looked at.
constexpr int kSyslogPollMs = 250;

// "2024-05-01 14:03:07" in local time.
std::string local_time(uint64_t time_ms) {
  const time_t seconds = time_ms > 0 ? static_cast<time_t>(time_ms / 1000) : time(nullptr);
  struct tm t{};
  char text[32] = "";
  if (localtime_r(&seconds, &t) != nullptr) strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

// Whether a syslog line is the daemon's: its tag is the program's name,
// "autoresponsed[PID]:" or "autoresponsed:", as syslog and the journal
// write it (the development daemon's name too).
bool daemon_line(const std::string& line) {
  for (const char* tag : {" autoresponsed[", " autoresponsed:", " autoresponsed-dev[", " autoresponsed-dev:"}) {
    if (line.find(tag) != std::string::npos) return true;
  }
  return false;
}

// The daemon's lines of a syslog file, or of the journal ("journal"):
// what is there, then what is added.
class SyslogSource {
 public:
  explicit SyslogSource(std::string name) : name_(std::move(name)) {}
  ~SyslogSource() {
    if (journal_ != nullptr) pclose(journal_);
  }

  // The last lines of the daemon already there; false after saying why on
  // err when the source cannot be read.
  bool read_last(size_t count, std::deque<std::string>* lines, std::ostream& err) {
    if (name_ == "journal") {
      return run_journal("-n " + std::to_string(count), err) && drain(lines, count);
    }
    std::ifstream in(name_);
    if (!in) {
      err << "arctl: cannot read " << visible(name_) << "\n";
      return false;
    }
    for (std::string line; std::getline(in, line);) {
      if (!daemon_line(line)) continue;
      lines->push_back(line);
      if (lines->size() > count) lines->pop_front();
    }
    return true;
  }

  // Starts following from the end; false after saying why on err.
  bool follow(std::ostream& err) {
    if (name_ == "journal") return run_journal("-n 0 -f", err);
    if (access(name_.c_str(), R_OK) != 0) {
      err << "arctl: cannot read " << visible(name_) << "\n";
      return false;
    }
    offset_ = file_size();
    return true;
  }

  // The descriptor to wait on, or -1 when the file must be looked at now
  // and then.
  int fd() const { return journal_ != nullptr ? fileno(journal_) : -1; }

  // The daemon's lines added since the last call.
  void take_new(std::deque<std::string>* lines) {
    if (journal_ != nullptr) {
      drain(lines, SIZE_MAX);
      return;
    }
    // A rotated or truncated file starts again from its beginning.
    const off_t size = file_size();
    if (size < offset_) offset_ = 0;
    std::ifstream in(name_);
    in.seekg(offset_);
    std::string line;
    while (std::getline(in, line) && !in.eof()) {
      offset_ += static_cast<off_t>(line.size()) + 1;
      if (daemon_line(line)) lines->push_back(line);
    }
  }

 private:
  off_t file_size() const {
    struct stat st {};
    return stat(name_.c_str(), &st) == 0 ? st.st_size : 0;
  }

  bool run_journal(const std::string& how, std::ostream& err) {
    const std::string command = "journalctl -q -o short-iso -t autoresponsed " + how + " 2>/dev/null";
    journal_ = popen(command.c_str(), "r");
    if (journal_ == nullptr) {
      err << "arctl: cannot run journalctl\n";
      return false;
    }
    return true;
  }

  // Lines the journal has written (all of them once it ended).
  bool drain(std::deque<std::string>* lines, size_t count) {
    char buffer[4096];
    std::string line;
    while (journal_ != nullptr) {
      pollfd p{fileno(journal_), POLLIN, 0};
      if (count == SIZE_MAX && poll(&p, 1, 0) <= 0) break;
      if (fgets(buffer, sizeof buffer, journal_) == nullptr) {
        pclose(journal_);
        journal_ = nullptr;
        break;
      }
      line += buffer;
      if (line.back() != '\n') continue;
      line.pop_back();
      lines->push_back(line);
      line.clear();
      if (lines->size() > count) lines->pop_front();
    }
    return true;
  }

  std::string name_;
  FILE* journal_ = nullptr;
  off_t offset_ = 0;
};

void print_syslog(std::ostream& out, std::deque<std::string>* lines) {
  for (const std::string& line : *lines) out << "syslog  " << visible(line) << std::endl;
  lines->clear();
}

int run_log(Invocation& inv) {
  InfodConnection infod;
  std::string error;
  if (!infod.open(inv.socket, &error)) {
    inv.err << "arctl: " << visible(error) << "\n";
    return 1;
  }
  std::unique_ptr<SyslogSource> syslog;
  if (inv.syslog) syslog = std::make_unique<SyslogSource>(*inv.syslog);
  if (!inv.follow) {
    std::deque<std::string> lines;
    if (syslog && !syslog->read_last(kSyslogLines, &lines, inv.err)) return 1;
    print_syslog(inv.out, &lines);
    std::optional<std::string> line;
    if (!infod.get(kLogKey, &line)) {
      inv.err << "arctl: infod at " << visible(inv.socket) << " does not answer\n";
      return 1;
    }
    if (line) {
      inv.out << visible(*line) << "\n";
    } else {
      inv.err << "arctl: " << kLogKey << " holds no line yet\n";
    }
    return 0;
  }
  if (!infod.subscribe(kLogKey)) {
    inv.err << "arctl: could not subscribe at infod " << visible(inv.socket) << "\n";
    return 1;
  }
  if (syslog && !syslog->follow(inv.err)) return 1;
  InfodUpdate update;
  for (;;) {
    if (syslog) {
      std::deque<std::string> lines;
      syslog->take_new(&lines);
      print_syslog(inv.out, &lines);
      if (!infod.readable()) {
        // Whichever speaks first: infod, the journal, or the file at its
        // next look.
        pollfd p[2] = {{infod.fd(), POLLIN, 0}, {syslog->fd(), POLLIN, 0}};
        poll(p, 2, kSyslogPollMs);
        if (!infod.readable()) continue;
      }
    }
    if (!infod.next_update(&update)) break;
    if (update.key != kLogKey) continue;
    inv.out << local_time(update.time_ms) << "  " << visible(update.value) << std::endl;
  }
  inv.err << "arctl: infod closed the connection\n";
  return 1;
}

}  // namespace

const Command kLogCommand = {
    "log",
    "[-f] [--syslog FILE] [--socket PATH]",
    "print the last engine log line, or follow it, with syslog's lines of the daemon",
    "Prints the line the daemon last wrote into infod's key\n"
    "config.autoresponse.log (state changes, actions and their ends, control\n"
    "commands). With -f, follows the key instead: prints every new line with\n"
    "the local time until interrupted.\n"
    "\n"
    "With --syslog FILE, the daemon's own lines of the syslog file FILE (those\n"
    "tagged autoresponsed: failed loads, rejected rules, timed-out actions)\n"
    "come beside it, each preceded by \"syslog  \": the last 20 before the\n"
    "engine's line, or, with -f, each as it is added. FILE \"journal\" reads\n"
    "the systemd journal through journalctl instead.\n"
    "\n"
    "  -f, --follow    follow the log\n"
    "  --syslog FILE   the daemon's lines of a syslog file, or of the journal\n"
    "  --socket PATH   infod's socket (default /var/run/infod-sock)\n"
    "\n"
    "Exit status: 0 printed, 1 infod or FILE cannot be read, or infod went away.\n",
    kOptionSocket | kOptionFollow | kOptionSyslog,
    0,
    0,
    run_log,
};
