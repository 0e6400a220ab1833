// The grammar of `arctl test` files: settings (config, clock, hostname,
// program) and timed steps, each fault named with its file and line.
#include "arctl/test_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

const char* const kStateNames[5] = {"Normal", "Triggered", "Resolving", "Timeout", "Disabled"};

namespace {

constexpr char kBlanks[] = " \t";

// The first word of text from *pos on, moving *pos past it and the blanks
// after it; empty at the end of the line.
std::string next_word(const std::string& text, size_t* pos) {
  const size_t start = text.find_first_not_of(kBlanks, *pos);
  if (start == std::string::npos) {
    *pos = text.size();
    return std::string();
  }
  size_t end = text.find_first_of(kBlanks, start);
  if (end == std::string::npos) end = text.size();
  *pos = end;
  return text.substr(start, end - start);
}

// What follows the word just taken: the rest of the line after one blank,
// kept as it is (a value may start or end with blanks).
std::string rest_of_line(const std::string& text, size_t pos) {
  return pos < text.size() ? text.substr(pos + 1) : std::string();
}

bool all_digits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A whole number 0..limit written in decimal digits.
bool parse_number(const std::string& text, long limit, long* value) {
  if (!all_digits(text) || text.size() > 9) return false;
  *value = strtol(text.c_str(), nullptr, 10);
  return *value <= limit;
}

// The fields of "YYYY-MM-DD HH:MM:SS", checked against the calendar.
bool parse_clock(const std::string& date, const std::string& time, struct tm* tm) {
  int y, mo, d, h, mi, s;
  char tail;
  if (date.size() != 10 || time.size() != 8 ||
      sscanf(date.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail) != 3 ||
      sscanf(time.c_str(), "%2d:%2d:%2d%c", &h, &mi, &s, &tail) != 3) {
    return false;
  }
  static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || (mo == 2 && d == 29 && !leap) || h > 23 ||
      mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
    return false;
  }
  *tm = {};
  tm->tm_year = y - 1900, tm->tm_mon = mo - 1, tm->tm_mday = d;
  tm->tm_hour = h, tm->tm_min = mi, tm->tm_sec = s;
  tm->tm_isdst = -1;
  return true;
}

// Whether zone names a zone of the tz database on this machine. The C
// library takes any name and falls back to UTC, so a misspelt zone would
// silently test the wrong local time. A zone is a compiled zone file
// ("TZif" first); the folder also holds tables and lists that are none
// (leapseconds, zone.tab), the system's own localtime and posixrules, and
// the posix/ and right/ copies of every zone, right/ counting leap seconds
// that the appliance's clock does not.
bool known_zone(const std::string& zone) {
  if (zone == "UTC") return true;
  if (zone.empty() || zone[0] == '/' || zone.find("..") != std::string::npos ||
      zone.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/_-+") !=
          std::string::npos) {
    return false;
  }
  if (zone == "localtime" || zone == "posixrules" || zone.compare(0, 6, "posix/") == 0 ||
      zone.compare(0, 6, "right/") == 0) {
    return false;
  }
  const std::string path = "/usr/share/zoneinfo/" + zone;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, sizeof magic) && std::string(magic, sizeof magic) == "TZif";
}

// The folder of file, with its slash; empty for a file in the current one.
std::string folder_of(const std::string& file) {
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

class Reader {
 public:
  Reader(const std::string& file, TestFile* test) : file_(file), test_(test) {}

  // Reads one line; false with fault_ set.
  bool line(int number, const std::string& text);
  // What is missing once every line is read.
  bool finish(int lines);
  const std::string& fault() const { return fault_; }

 private:
  bool fail(const std::string& what) {
    fault_ = file_ + ":" + std::to_string(line_) + ": " + what;
    return false;
  }
  bool setting(const std::string& word, const std::string& text, size_t pos);
  bool step(const std::string& text, size_t pos);
  bool input(std::string verb, bool window, Step* s, const std::string& text, size_t pos);
  bool expectation(Step* s, const std::string& text, size_t pos);

  // A step's line and time, for the faults that name another step.
  struct Mark {
    int line = 0;
    int64_t ms = -1;
    std::string when;
  };
  // The fault of step s, which comes while the restart down holds the daemon down.
  static std::string while_down(const Mark& down, const Step& s);

  const std::string& file_;
  TestFile* test_;
  int line_ = 0;
  std::string fault_;
  bool clock_seen_ = false;
  bool hostname_seen_ = false;
  int last_run_ = -1;  // the step index of the latest expect run
  Mark input_;   // the latest input, by its (first) time
  Mark latest_;  // the step that reaches latest
  Mark end_;     // the end line
  Mark down_;    // the restart with the latest downtime, ms its end
};

bool Reader::line(int number, const std::string& text) {
  line_ = number;
  size_t pos = 0;
  const std::string word = next_word(text, &pos);
  if (word.empty() || word[0] == '#') return true;
  if (word == "at") return step(text, pos);
  return setting(word, text, pos);
}

bool Reader::setting(const std::string& word, const std::string& text, size_t pos) {
  if (word == "config") {
    if (test_->config_line != 0) {
      return fail("config given twice (first on line " + std::to_string(test_->config_line) + ")" +
                  (test_->steps.empty() ? "" : ": a file read later is a step, at T config PATH"));
    }
    if (!test_->steps.empty()) return fail("config must come before the first step");
    const size_t start = text.find_first_not_of(kBlanks, pos);
    const std::string path = start == std::string::npos ? std::string() : text.substr(start);
    if (path.empty()) return fail("config needs a PATH");
    test_->config = path[0] == '/' ? path : folder_of(file_) + path;
    test_->config_written = path;
    test_->config_line = line_;
    return true;
  }
  if (word == "clock") {
    if (clock_seen_) return fail("clock given twice");
    const std::string date = next_word(text, &pos), time = next_word(text, &pos), zone = next_word(text, &pos);
    struct tm tm;
    if (!next_word(text, &pos).empty() || !parse_clock(date, time, &tm)) {
      return fail("clock needs YYYY-MM-DD HH:MM:SS [ZONE], a date and time that exist");
    }
    if (!zone.empty() && !known_zone(zone)) return fail("\"" + zone + "\" is no zone of the tz database (such as Europe/Berlin)");
    test_->clock = date + " " + time;
    if (!zone.empty()) test_->zone = zone;
    test_->clock_line = line_;
    clock_seen_ = true;
    return true;
  }
  if (word == "hostname") {
    if (hostname_seen_) return fail("hostname given twice");
    const std::string name = next_word(text, &pos);
    if (name.empty() || !next_word(text, &pos).empty()) return fail("hostname needs one NAME");
    test_->hostname = name;
    hostname_seen_ = true;
    return true;
  }
  if (word == "program") {
    ProgramEnd p;
    p.line = line_;
    p.path = next_word(text, &pos);
    long status = 0;
    if (p.path.empty() || next_word(text, &pos) != "exits" || !parse_number(next_word(text, &pos), 255, &status)) {
      return fail("program needs PATH exits N [after S], N from 0 to 255");
    }
    p.status = static_cast<int>(status);
    const std::string after = next_word(text, &pos);
    if (!after.empty() && (after != "after" || !parse_test_time(next_word(text, &pos), &p.after))) {
      return fail("program needs PATH exits N [after S], S a time such as 30, 1.5 or 2m");
    }
    if (!next_word(text, &pos).empty()) return fail("program: too many words");
    for (const ProgramEnd& other : test_->programs) {
      if (other.path == p.path) return fail(p.path + " is given on line " + std::to_string(other.line) + " already");
    }
    test_->programs.push_back(p);
    return true;
  }
  return fail("\"" + word + "\" is no line of a test (config, clock, hostname, program or at)");
}

bool Reader::step(const std::string& text, size_t pos) {
  if (test_->config_line == 0) return fail("a step before the config line");
  Step s;
  s.line = line_;
  s.when = next_word(text, &pos);
  const size_t dots = s.when.find("..");
  const bool window = dots != std::string::npos;
  if (window ? !(parse_test_time(s.when.substr(0, dots), &s.from) && parse_test_time(s.when.substr(dots + 2), &s.until))
             : !parse_test_time(s.when, &s.from)) {
    return fail("\"" + s.when + "\" is no time: seconds such as 30 or 1.5, or with s, m or h, or a window A..B");
  }
  if (!window) s.until = s.from;
  if (s.until < s.from) return fail("the window " + s.when + " ends before it starts");
  if (s.until > kLastStepTime) return fail("at " + s.when + " is later than 10000h, the last time a test may reach");
  if (end_.line != 0 && s.until > end_.ms) {
    return fail("at " + s.when + " is after the end, line " + std::to_string(end_.line) + "'s at " + end_.when);
  }
  const std::string verb = next_word(text, &pos);
  const bool done = verb == "expect" ? expectation(&s, text, pos) : input(verb, window, &s, text, pos);
  if (done && s.until > latest_.ms) latest_ = {s.line, s.until, s.when};
  return done;
}

bool Reader::input(std::string verb, bool window, Step* s, const std::string& text, size_t pos) {
  int64_t every = 0;
  if (verb == "every") {
    if (!window) return fail("every needs a window: at A..B every S push KEY VALUE...");
    if (!parse_test_time(next_word(text, &pos), &every) || every == 0) {
      return fail("every needs a time above 0, such as 5 or 0.5");
    }
    verb = next_word(text, &pos);
    if (verb != "push") return fail("a series is of pushes: at A..B every S push KEY VALUE...");
  } else if (window) {
    return fail("a window is for expect lines and series (at A..B every S push KEY VALUE...): " +
                std::string(verb == "end" ? "an " : "a ") + verb + " happens at one time");
  }
  if (verb == "end") {
    if (end_.line != 0) return fail("end given twice (first on line " + std::to_string(end_.line) + ")");
    if (!next_word(text, &pos).empty()) return fail("end takes nothing after it");
    if (latest_.ms > s->until) {
      return fail("the end at " + s->when + " comes before line " + std::to_string(latest_.line) + "'s at " +
                  latest_.when);
    }
    s->kind = StepKind::kEnd;
    end_ = {s->line, s->until, s->when};
    test_->steps.push_back(*s);
    return true;
  }
  // Only what the daemon gets must be in order: an expectation is judged
  // by its time wherever it stands.
  if (s->from < input_.ms) {
    return fail("at " + s->when + " comes before line " + std::to_string(input_.line) + "'s at " + input_.when +
                ": steps other than expect lines go in time order");
  }
  // While the daemon is down only infod's values and the files change.
  if (s->from < down_.ms && verb != "reply" && verb != "config") return fail(while_down(down_, *s));
  if (verb == "push" || verb == "reply") {
    s->kind = verb == "push" ? StepKind::kPush : StepKind::kReply;
    s->key = next_word(text, &pos);
    if (s->key.empty()) return fail(verb + " needs a KEY and a VALUE");
    s->text = rest_of_line(text, pos);
  } else if (verb == "command") {
    s->kind = StepKind::kCommand;
    s->text = rest_of_line(text, pos);
    if (s->text.empty()) return fail("command needs a TEXT");
  } else if (verb == "hup") {
    s->kind = StepKind::kHup;
    if (!next_word(text, &pos).empty()) return fail(verb + " takes nothing after it");
  } else if (verb == "restart") {
    s->kind = StepKind::kRestart;
    const std::string after = next_word(text, &pos);
    if (!after.empty() && (after != "after" || !parse_test_time(next_word(text, &pos), &s->after) ||
                           !next_word(text, &pos).empty())) {
      return fail("restart takes only \"after D\", D the time the daemon is down, such as 30 or 2m");
    }
    if (s->after > 0) {
      if (s->from + s->after > kLastStepTime) return fail("at " + s->when + " restart after " +
                                                          format_test_time(s->after) + " ends later than 10000h");
      // A series read before may push into the downtime.
      for (const Step& earlier : test_->steps) {
        if (earlier.kind == StepKind::kPush && earlier.from > s->from && earlier.from < s->from + s->after) {
          line_ = earlier.line;
          Step restart = *s;
          restart.from = earlier.from;
          restart.when = earlier.when;
          return fail(while_down({s->line, s->from + s->after, s->when}, restart));
        }
      }
      down_ = {s->line, s->from + s->after, s->when};
    }
  } else if (verb == "config") {
    s->kind = StepKind::kConfig;
    const size_t start = text.find_first_not_of(kBlanks, pos);
    s->text = start == std::string::npos ? std::string() : text.substr(start);
    if (s->text.empty()) return fail("config needs a PATH");
    s->key = s->text[0] == '/' ? s->text : folder_of(file_) + s->text;
  } else {
    return fail("\"" + verb + "\" is no step (push, reply, command, config, hup, restart, end or expect)");
  }
  input_ = {s->line, s->from, s->when};
  if (every == 0) {
    test_->steps.push_back(*s);
    return true;
  }
  // A series: one push per value, every S from A on, the last at B at the
  // latest.
  std::vector<std::string> values;
  std::string problem;
  if (!split_words(s->text, &values, &problem)) return fail(problem);
  const int64_t pushes = (s->until - s->from) / every + 1;
  if (static_cast<int64_t>(values.size()) != pushes) {
    return fail("at " + s->when + " every " + format_test_time(every) + " makes " + std::to_string(pushes) +
                " pushes, the line gives " + std::to_string(values.size()) +
                (values.size() == 1 ? " value" : " values"));
  }
  for (size_t i = 0; i < values.size(); ++i) {
    Step push = *s;
    push.from = push.until = s->from + static_cast<int64_t>(i) * every;
    push.when = format_test_time(push.from);
    push.text = values[i];
    test_->steps.push_back(push);
  }
  return true;
}

bool Reader::expectation(Step* s, const std::string& text, size_t pos) {
  const std::string what = next_word(text, &pos);
  if (what == "state" || what == "value") {
    s->kind = what == "state" ? StepKind::kExpectState : StepKind::kExpectValue;
    s->key = next_word(text, &pos);
    long ref = 0;
    if (s->key.empty() || !parse_number(next_word(text, &pos), 1024, &ref) || ref < 1) {
      return fail("expect " + what + " needs RULE REF " + (what == "state" ? "STATE" : "TEXT") +
                  ", REF a reference's number from 1");
    }
    s->ref = static_cast<int>(ref);
    if (s->kind == StepKind::kExpectValue) {
      s->text = rest_of_line(text, pos);
    } else {
      s->text = next_word(text, &pos);
      bool known = false;
      for (const char* name : kStateNames) known = known || s->text == name;
      if (!known || !next_word(text, &pos).empty()) {
        return fail("\"" + s->text + "\" is no state (Normal, Triggered, Resolving, Timeout or Disabled)");
      }
    }
  } else if (what == "run") {
    s->kind = StepKind::kExpectRun;
    std::string problem;
    if (!split_words(rest_of_line(text, pos), &s->words, &problem)) return fail(problem);
    if (s->words.empty()) return fail("expect run needs a PROGRAM");
    last_run_ = static_cast<int>(test_->steps.size());
  } else if (what == "env") {
    if (last_run_ < 0) return fail("expect env needs an expect run above it");
    Step& run = test_->steps[static_cast<size_t>(last_run_)];
    const std::string assignment = rest_of_line(text, pos);
    const size_t equals = assignment.find('=');
    if (equals == 0 || equals == std::string::npos) return fail("expect env needs NAME=VALUE");
    if (s->from != run.from || s->until != run.until) {
      return fail("expect env at " + s->when + " belongs to the run of line " + std::to_string(run.line) + " at " +
                  run.when);
    }
    run.env.push_back({line_, assignment.substr(0, equals), assignment.substr(equals + 1)});
    return true;
  } else if (what == "sms") {
    s->kind = StepKind::kExpectSms;
    s->key = next_word(text, &pos);
    if (s->key.empty()) return fail("expect sms needs a NUMBER and a TEXT");
    s->text = rest_of_line(text, pos);
  } else if (what == "log" || what == "syslog") {
    s->kind = what == "log" ? StepKind::kExpectLog : StepKind::kExpectSyslog;
    s->text = rest_of_line(text, pos);
    if (s->text.empty()) return fail("expect " + what + " needs a TEXT");
  } else {
    return fail("\"" + what + "\" is nothing to expect (state, value, run, env, sms, log or syslog)");
  }
  test_->steps.push_back(*s);
  return true;
}

std::string Reader::while_down(const Mark& down, const Step& s) {
  return "at " + s.when + " the daemon is down (line " + std::to_string(down.line) + "'s restart at " + down.when +
         " starts it again at " + format_test_time(down.ms) + "): only reply and config steps may come meanwhile";
}

bool Reader::finish(int lines) {
  if (test_->config_line != 0) return true;
  line_ = lines == 0 ? 1 : lines;
  return fail("no config line: which configuration does it test?");
}

}  // namespace

int64_t TestFile::last() const {
  int64_t last = 0;
  for (const Step& s : steps) last = std::max(last, s.until);
  return last;
}

bool is_input(const Step& step) {
  switch (step.kind) {
    case StepKind::kPush:
    case StepKind::kReply:
    case StepKind::kCommand:
    case StepKind::kHup:
    case StepKind::kConfig:
    case StepKind::kRestart:
      return true;
    default:
      return false;
  }
}

bool parse_test_time(const std::string& text, int64_t* ms) {
  std::string number = text;
  int64_t unit = 1000;
  if (!number.empty() && (number.back() == 's' || number.back() == 'm' || number.back() == 'h')) {
    unit = number.back() == 's' ? 1000 : number.back() == 'm' ? 60000 : 3600000;
    number.pop_back();
  }
  const size_t dot = number.find('.');
  const std::string whole = number.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? std::string() : number.substr(dot + 1);
  if (!all_digits(whole) || whole.size() > 9 || (dot != std::string::npos && !all_digits(fraction)) ||
      fraction.size() > 9) {
    return false;
  }
  // whole.fraction units, in exact integers: (whole * 10^d + fraction) * unit / 10^d.
  int64_t scale = 1;
  for (size_t i = 0; i < fraction.size(); ++i) scale *= 10;
  const int64_t scaled = std::stoll(whole) * scale + (fraction.empty() ? 0 : std::stoll(fraction));
  // Both factors stay below 10^18 / 3.6e6 once the scale is taken out.
  const int64_t ticks = scaled / scale * unit + scaled % scale * unit / scale;
  if (scaled % scale * unit % scale != 0) return false;
  *ms = ticks;
  return true;
}

std::string format_test_time(int64_t ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    char fraction[8];
    snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(ms % 1000));
    text += fraction;
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

bool split_words(const std::string& text, std::vector<std::string>* words, std::string* fault) {
  words->clear();
  std::string word;
  bool in_word = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '\'') {
      const size_t end = text.find('\'', i + 1);
      if (end == std::string::npos) return *fault = "a single quote is not closed", false;
      word += text.substr(i + 1, end - i - 1);
      i = end;
      in_word = true;
    } else if (c == '"') {
      size_t j = i + 1;
      for (; j < text.size() && text[j] != '"'; ++j) {
        if (text[j] == '\\' && j + 1 < text.size() && strchr("\"\\$`", text[j + 1]) != nullptr) ++j;
        word += text[j];
      }
      if (j == text.size()) return *fault = "a double quote is not closed", false;
      i = j;
      in_word = true;
    } else if (c == '\\' && i + 1 < text.size()) {
      word += text[++i];
      in_word = true;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words->push_back(word);
  return true;
}

std::string quote_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                                              "_@%+=:,./-") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::optional<int> rule_number(const std::string& rule) {
  if (rule.empty() || rule.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  return rule.size() < 10 ? std::stoi(rule) : 0;
}

bool parse_test_file(const std::string& file, const std::string& text, TestFile* test, std::string* fault) {
  *test = TestFile();
  test->file = file;
  Reader reader(file, test);
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    if (!reader.line(++number, line)) return *fault = reader.fault(), false;
  }
  if (!reader.finish(number)) return *fault = reader.fault(), false;
  return true;
}

bool read_test_file(const std::string& file, TestFile* test, std::string* fault) {
  struct stat st;
  if (stat(file.c_str(), &st) != 0) return *fault = file + ": " + strerror(errno), false;
  // A FIFO or a device would hold the command up, or never end.
  if (!S_ISREG(st.st_mode)) return *fault = file + ": not a regular file", false;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in.is_open() && st.st_size > 0) text << in.rdbuf();
  if (!in.is_open() || in.bad() || text.fail()) return *fault = file + ": cannot be read", false;
  return parse_test_file(file, text.str(), test, fault);
}

bool start_wall_clock(const TestFile& test, time_t* wall, std::string* fault) {
  const std::string where = test.file + ":" + std::to_string(test.clock_line == 0 ? 1 : test.clock_line) + ": ";
  const size_t blank = test.clock.find(' ');
  struct tm tm;
  if (!parse_clock(test.clock.substr(0, blank), test.clock.substr(blank + 1), &tm)) {
    return *fault = where + "clock \"" + test.clock + "\" is no date and time", false;
  }
  setenv("TZ", test.zone.c_str(), 1);
  tzset();
  const struct tm wanted = tm;
  *wall = mktime(&tm);
  if (*wall == static_cast<time_t>(-1) || tm.tm_hour != wanted.tm_hour || tm.tm_min != wanted.tm_min ||
      tm.tm_mday != wanted.tm_mday) {
    return *fault = where + test.clock + " does not exist in " + test.zone + ": a daylight-saving change skips it",
           false;
  }
  return true;
}
