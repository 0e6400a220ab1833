// `arctl log [-f] [--syslog FILE]`: the engine's log key, once or followed,
// and beside it what the daemon logged to syslog; `arctl log -n N`: the
// daemon's own last lines in syslog or the journal.
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "arctl/arctl.h"
#include "arctl/infod.h"
#include "arctl/text.h"
#include "base/local_time.h"
#include "link/link.h"

namespace {

// The daemon's lines already in the log when it is not followed.
constexpr size_t kSyslogLines = 20;
// How often a followed syslog file is looked at.
constexpr int kSyslogPollMs = 250;
// The most lines -n takes.
constexpr unsigned long kMaxLines = 1000000;

// Where the daemon's lines are when no --syslog names them: the journal
// when the system runs one, else the first of the usual syslog files.
constexpr const char* kJournalDir = "/run/systemd/journal";
constexpr const char* kSyslogFiles[] = {"/var/log/syslog", "/var/log/messages"};

// When infod took the update, or now for an update without a time.
std::string local_time(uint64_t time_ms) {
  return local_time_text(time_ms > 0 ? static_cast<int64_t>(time_ms / 1000) : static_cast<int64_t>(time(nullptr)));
}

// Whether a syslog line is the daemon's: its tag is the program's name,
// "autoresponsed[PID]:" or "autoresponsed:", as syslog and the journal
// write it (the development daemon's name too). The tag is the word before
// the first colon that ends a word: the time before it has none, and a
// message of another program that names the daemon is not the daemon's.
bool daemon_line(const std::string& line) {
  size_t colon = 0;
  for (;; ++colon) {
    colon = line.find(':', colon);
    if (colon == std::string::npos) return false;
    if (colon + 1 == line.size() || line[colon + 1] == ' ') break;
  }
  const size_t space = line.rfind(' ', colon);
  const size_t start = space == std::string::npos ? 0 : space + 1;
  std::string_view tag = std::string_view(line).substr(start, colon - start);
  if (!tag.empty() && tag.back() == ']') {
    const size_t open = tag.find('[');
    const std::string_view pid = open == std::string_view::npos ? "" : tag.substr(open + 1, tag.size() - open - 2);
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string_view::npos) return false;
    tag = tag.substr(0, open);
  }
  return tag == "autoresponsed" || tag == "autoresponsed-dev";
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
      if (!run_journal("-n " + std::to_string(count), err)) return false;
      if (!drain(lines, count)) {
        err << "arctl: cannot run journalctl\n";
        return false;
      }
      return true;
    }
    return read_file(count, lines, false, err);
  }

  // Starts following: from the end, or with the last lines already there
  // (which take_new then gives first); false after saying why on err.
  bool follow(std::ostream& err, size_t last = 0) {
    if (name_ == "journal") return run_journal("-n " + std::to_string(last) + " -f", err);
    if (last > 0) return read_file(last, &pending_, true, err);
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

  // Whether the journal being followed ended.
  bool ended() const { return name_ == "journal" && journal_ == nullptr; }

  // The daemon's lines added since the last call.
  void take_new(std::deque<std::string>* lines) {
    lines->insert(lines->end(), pending_.begin(), pending_.end());
    pending_.clear();
    if (journal_ != nullptr) {
      drain(lines, SIZE_MAX);
      return;
    }
    if (name_ == "journal") return;
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

  // The last count lines of the daemon in the file, the last one even
  // before it ends unless whole_only; following goes on after the lines
  // read.
  bool read_file(size_t count, std::deque<std::string>* lines, bool whole_only, std::ostream& err) {
    std::ifstream in(name_);
    if (!in) {
      err << "arctl: cannot read " << visible(name_) << "\n";
      return false;
    }
    offset_ = 0;
    for (std::string line; std::getline(in, line);) {
      if (in.eof() && whole_only) break;
      offset_ += static_cast<off_t>(line.size()) + 1;
      if (!daemon_line(line) || count == 0) continue;
      lines->push_back(line);
      if (lines->size() > count) lines->pop_front();
    }
    return true;
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

  // Lines the journal has written (all of them once it ended). False when
  // it ended because journalctl could not be run. Read from the descriptor
  // itself: lines held in a stdio buffer would wait unseen for the next
  // line the journal writes.
  bool drain(std::deque<std::string>* lines, size_t count) {
    while (journal_ != nullptr) {
      pollfd p{fileno(journal_), POLLIN, 0};
      if (count == SIZE_MAX && poll(&p, 1, 0) <= 0) break;
      char chunk[4096];
      const ssize_t n = read(fileno(journal_), chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int status = pclose(journal_);
        journal_ = nullptr;
        return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
      }
      partial_.append(chunk, static_cast<size_t>(n));
      size_t from = 0;
      for (size_t end; (end = partial_.find('\n', from)) != std::string::npos; from = end + 1) {
        if (count == 0) continue;
        lines->push_back(partial_.substr(from, end - from));
        if (lines->size() > count) lines->pop_front();
      }
      partial_.erase(0, from);
    }
    return true;
  }

  std::string name_;
  FILE* journal_ = nullptr;
  off_t offset_ = 0;
  std::deque<std::string> pending_;  // read by follow, not yet taken
  std::string partial_;              // of the journal's line being written
};

void print_syslog(std::ostream& out, std::deque<std::string>* lines) {
  for (const std::string& line : *lines) out << "syslog  " << visible(line) << std::endl;
  lines->clear();
}

// The source of the daemon's lines when no --syslog names one: "journal"
// when the system runs one, else the first syslog file there is; "" for none.
std::string daemon_log_source() {
  struct stat st {};
  if (stat(kJournalDir, &st) == 0 && S_ISDIR(st.st_mode)) return "journal";
  for (const char* file : kSyslogFiles) {
    if (access(file, F_OK) == 0) return file;
  }
  return "";
}

// `arctl log -n N [-f]`: the daemon's last count lines as syslog or the
// journal has them, each with its time, then with -f each as it is added.
// infod plays no part: this is what to read when the daemon did not start.
int run_daemon_lines(Invocation& inv, size_t count) {
  const std::string source = inv.syslog ? *inv.syslog : daemon_log_source();
  if (source.empty()) {
    inv.err << "arctl: no journal here, nor " << kSyslogFiles[0] << " or " << kSyslogFiles[1]
            << "; name the daemon's syslog file with --syslog FILE\n";
    return 1;
  }
  SyslogSource syslog(source);
  std::deque<std::string> lines;
  if (!inv.follow) {
    if (!syslog.read_last(count, &lines, inv.err)) return 1;
    for (const std::string& line : lines) inv.out << visible(line) << "\n";
    return 0;
  }
  if (!syslog.follow(inv.err, count)) return 1;
  for (;;) {
    syslog.take_new(&lines);
    for (const std::string& line : lines) inv.out << visible(line) << std::endl;
    lines.clear();
    if (syslog.ended()) {
      inv.err << "arctl: journalctl ended\n";
      return 1;
    }
    pollfd p{syslog.fd(), POLLIN, 0};
    poll(&p, 1, kSyslogPollMs);
  }
}

int run_log(Invocation& inv) {
  if (inv.lines) {
    const std::string& n = *inv.lines;
    if (n.size() > 7 || n.find_first_not_of("0123456789") != std::string::npos ||
        strtoul(n.c_str(), nullptr, 10) > kMaxLines) {
      return usage_error(inv.err, "-n takes a number of lines from 0 to " + std::to_string(kMaxLines) + ", not " +
                                      visible(n), &kLogCommand);
    }
    return run_daemon_lines(inv, strtoul(n.c_str(), nullptr, 10));
  }
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
    .name = "log",
    .summary = "print the last engine log line, or follow it, with syslog's lines of the daemon",
    .options =
        {
            {.name = "follow", .letter = 'f', .help = "follow the log", .flag = &Invocation::follow},
            {.name = "lines", .letter = 'n', .placeholder = "N", .help = "the daemon's last N lines (0 to 1000000) alone", .value = &Invocation::lines},
            {.name = "syslog", .placeholder = "FILE", .help = "the daemon's lines of a syslog file, or of the journal", .value = &Invocation::syslog},
            kSocketOption,
        },
    .description =
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
        "With -n N, prints instead the daemon's last N lines as syslog has them,\n"
        "each with its time, without infod; with -f too, then each as it is\n"
        "added. They come from FILE when --syslog names one, else from the\n"
        "journal when the system runs one (/run/systemd/journal), else from\n"
        "/var/log/syslog or /var/log/messages.\n",
    .exit_status =
        "Exit status: 0 printed, 1 infod or FILE cannot be read, or infod went away\n"
        "(with -n -f: the journal ended), 2 a command line not understood.\n",
    .run = run_log,
};
