// The judgement of `arctl test`: a simulated run against a test file's
// expectations, and the trace that a test file is written from.
#include "arctl/test_report.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "arctl/text.h"

namespace {

int64_t second_of(int64_t ms) { return ms / 1000; }

// Seconds either side of an expect log line's time whose lines a mismatch
// shows (a tick's period), and how many of them at most.
constexpr int64_t kAroundSeconds = 5;
constexpr size_t kShownAround = 5;

std::string when(const Step& step) {
  return step.from == step.until ? format_test_time(step.from)
                                 : format_test_time(step.from) + ".." + format_test_time(step.until);
}

// A command line as a test file writes it.
std::string command_line(const std::string& program, const std::vector<std::string>& args) {
  std::string line = quote_word(program);
  for (const std::string& a : args) line += " " + quote_word(a);
  return line;
}

std::string expected_line(const Step& run) {
  return command_line(run.words[0], std::vector<std::string>(run.words.begin() + 1, run.words.end()));
}

std::string quoted(const std::string& text) { return "\"" + visible(text) + "\""; }

std::string subject(const Step& step) {
  return (rule_number(step.key) ? "rule " : "") + step.key + " ref " + std::to_string(step.ref);
}

class Judge {
 public:
  Judge(const TestFile& test, const std::vector<Record>& records) : test_(test), records_(records) {
    taken_.assign(records.size(), false);
    for (size_t i = 0; i < records.size(); ++i) {
      const Record& r = records[i];
      switch (r.kind) {
        case RecordKind::kRun:
          untaken_[{r.kind, true, run_key(r.program, r.args)}].emplace(second_of(r.ms), i);
          untaken_[{r.kind, false, r.program}].emplace(second_of(r.ms), i);
          break;
        case RecordKind::kSms:
          untaken_[{r.kind, true, sms_key(r.key, r.text)}].emplace(second_of(r.ms), i);
          untaken_[{r.kind, false, r.key}].emplace(second_of(r.ms), i);
          break;
        case RecordKind::kLog:
        case RecordKind::kSyslog:
          untaken_[{r.kind, true, r.text}].emplace(second_of(r.ms), i);
          break;
        case RecordKind::kState:
        case RecordKind::kValue:
          published_[{r.kind, r.ref, false, std::to_string(r.rule)}].push_back(i);
          published_[{r.kind, r.ref, true, r.rule_name}].push_back(i);
          break;
        default:
          break;
      }
    }
  }

  std::vector<Mismatch> run() {
    for (const Step& step : test_.steps) {
      switch (step.kind) {
        case StepKind::kExpectRun:
          expect_run(step);
          break;
        case StepKind::kExpectSms:
          expect_sms(step);
          break;
        case StepKind::kExpectLog:
          expect_log(step, RecordKind::kLog);
          break;
        case StepKind::kExpectSyslog:
          expect_log(step, RecordKind::kSyslog);
          break;
        case StepKind::kExpectState:
        case StepKind::kExpectValue:
          expect_published(step);
          break;
        default:
          break;
      }
    }
    unexpected();
    std::stable_sort(found_.begin(), found_.end(), [](const Mismatch& a, const Mismatch& b) { return a.ms < b.ms; });
    return found_;
  }

 private:
  void add(int64_t ms, int line, const std::string& text) { found_.push_back({ms, line, text}); }
  void add(const Step& step, int line, const std::string& text) { add(step.from, line, "at " + when(step) + ": " + text); }

  // Runs, SMS and log lines are looked up by what they must match: a run
  // by its program and arguments and by its program alone, an SMS by its
  // number and text and by its number alone, a log line by its text.
  static std::string run_key(const std::string& program, const std::vector<std::string>& args) {
    std::string key = program;
    for (const std::string& a : args) key += '\0' + a;  // no argument holds a NUL
    return key;
  }
  static std::string sms_key(const std::string& number, const std::string& text) { return number + '\0' + text; }

  // The first record of kind not yet taken within the step's time, to the
  // second ("at 30" takes 30.000 to 30.999), whose whole key (or, with
  // whole false, its program or number) is key; records_.size() for none.
  size_t find(const Step& step, RecordKind kind, bool whole, const std::string& key) const {
    const auto list = untaken_.find({kind, whole, key});
    if (list == untaken_.end()) return records_.size();
    const auto first = list->second.lower_bound({second_of(step.from), 0});
    if (first == list->second.end() || first->first > second_of(step.until)) return records_.size();
    return first->second;
  }

  // Marks record i taken: no other line finds it.
  void mark_taken(size_t i) {
    taken_[i] = true;
    const Record& r = records_[i];
    const std::pair<int64_t, size_t> entry(second_of(r.ms), i);
    const auto drop = [&](bool whole, const std::string& key) { untaken_[{r.kind, whole, key}].erase(entry); };
    if (r.kind == RecordKind::kRun) drop(true, run_key(r.program, r.args)), drop(false, r.program);
    if (r.kind == RecordKind::kSms) drop(true, sms_key(r.key, r.text)), drop(false, r.key);
    if (r.kind == RecordKind::kLog || r.kind == RecordKind::kSyslog) drop(true, r.text);
  }

  // Takes record i for step, and says so when it happened before one that
  // an earlier line took in the same second.
  void take(const Step& step, size_t i, const std::string& what) {
    mark_taken(i);
    auto [at, fresh] = last_taken_.emplace(std::make_pair(records_[i].kind, second_of(records_[i].ms)), i);
    if (!fresh && at->second > i) {
      add(step, step.line, what + " came before " + describe(records_[at->second]) + ", expected after it");
    }
    if (fresh || at->second < i) at->second = i;
  }

  std::string describe(const Record& r) const {
    return r.kind == RecordKind::kRun ? "run " + command_line(r.program, r.args)
                                      : "sms " + r.key + " " + quoted(r.text);
  }

  void expect_run(const Step& step) {
    const std::vector<std::string> args(step.words.begin() + 1, step.words.end());
    size_t i = find(step, RecordKind::kRun, true, run_key(step.words[0], args));
    if (i < records_.size()) {
      take(step, i, "run " + expected_line(step));
      for (const EnvExpectation& e : step.env) expect_env(step, records_[i], e);
      return;
    }
    i = find(step, RecordKind::kRun, false, step.words[0]);
    if (i < records_.size()) {
      mark_taken(i);
      add(step, step.line, "expected run " + expected_line(step) + ", ran " + command_line(records_[i].program, records_[i].args));
    } else {
      add(step, step.line, "expected run " + expected_line(step) + ", nothing ran");
    }
  }

  void expect_env(const Step& step, const Record& run, const EnvExpectation& e) {
    const std::string prefix = e.name + "=";
    for (const std::string& entry : run.env) {
      if (entry.compare(0, prefix.size(), prefix) != 0) continue;
      if (entry.substr(prefix.size()) != e.value) {
        add(step, e.line, "run " + quote_word(run.program) + " has " + quoted(entry) + ", expected " +
                              quoted(prefix + e.value));
      }
      return;
    }
    add(step, e.line, "run " + quote_word(run.program) + " has no " + e.name + " in its environment");
  }

  void expect_sms(const Step& step) {
    size_t i = find(step, RecordKind::kSms, true, sms_key(step.key, step.text));
    if (i < records_.size()) return take(step, i, "sms " + step.key + " " + quoted(step.text));
    const std::string expected = "expected sms " + step.key + " " + quoted(step.text);
    i = find(step, RecordKind::kSms, false, step.key);
    if (i < records_.size()) {
      mark_taken(i);
      add(step, step.line, expected + ", sent " + quoted(records_[i].text));
    } else {
      add(step, step.line, expected + ", none sent");
    }
  }

  // A line of infod's log key (kLog) or of the daemon's own log (kSyslog):
  // a mismatch says which it searched.
  void expect_log(const Step& step, RecordKind kind) {
    const size_t i = find(step, kind, true, step.text);
    if (i < records_.size()) return mark_taken(i);
    add(step, step.line,
        kind == RecordKind::kLog
            ? "expected log " + quoted(step.text) + ", not in infod's log key; " + logged_around(step, kind)
            : "expected syslog " + quoted(step.text) + ", not in the daemon's own log; " + logged_around(step, kind));
  }

  // The lines of kind of the step's time and a tick either side, the
  // nearest few of them, for a line that was not logged: a typo or a time
  // a tick off shows at once.
  std::string logged_around(const Step& step, RecordKind kind) const {
    const int64_t from = second_of(step.from) - kAroundSeconds, until = second_of(step.until) + kAroundSeconds;
    std::vector<size_t> near;
    // Records are in time order.
    const auto first = std::lower_bound(records_.begin(), records_.end(), from * 1000,
                                        [](const Record& r, int64_t ms) { return r.ms < ms; });
    for (auto r = first; r != records_.end() && second_of(r->ms) <= until; ++r) {
      if (r->kind == kind) near.push_back(static_cast<size_t>(r - records_.begin()));
    }
    if (near.empty()) {
      return "nothing logged there from " + format_test_time(std::max<int64_t>(from, 0) * 1000) + " to " +
             format_test_time(until * 1000);
    }
    const auto distance = [&](size_t i) {
      const int64_t ms = records_[i].ms;
      return ms < step.from ? step.from - ms : ms > step.until ? ms - step.until : 0;
    };
    std::stable_sort(near.begin(), near.end(), [&](size_t a, size_t b) { return distance(a) < distance(b); });
    const size_t more = near.size() > kShownAround ? near.size() - kShownAround : 0;
    near.resize(near.size() - more);
    std::sort(near.begin(), near.end());
    std::string text = "logged there around it:";
    for (size_t i : near) {
      text += (i == near.front() ? " at " : ", at ") + format_test_time(records_[i].ms) + " " + quoted(records_[i].text);
    }
    if (more > 0) text += " and " + std::to_string(more) + " more";
    return text;
  }

  // A state or value: what it was at the step's start, and what it became
  // up to its end.
  void expect_published(const Step& step) {
    const RecordKind kind = step.kind == StepKind::kExpectState ? RecordKind::kState : RecordKind::kValue;
    const char* noun = kind == RecordKind::kState ? "state" : "value";
    // The last one published up to the step's start, then every later one
    // up to its end.
    std::vector<std::string> seen;
    const std::optional<int> number = rule_number(step.key);
    const auto list = published_.find({kind, step.ref, !number, number ? std::to_string(*number) : step.key});
    if (list != published_.end()) {
      const std::vector<size_t>& at = list->second;
      auto i = std::upper_bound(at.begin(), at.end(), step.from,
                                [this](int64_t ms, size_t r) { return ms < records_[r].ms; });
      if (i != at.begin()) --i;
      for (; i != at.end() && records_[*i].ms <= step.until; ++i) seen.push_back(records_[*i].text);
    }
    if (std::find(seen.begin(), seen.end(), step.text) != seen.end()) return;
    const std::string expected = kind == RecordKind::kState ? step.text : quoted(step.text);
    if (seen.empty()) {
      add(step, step.line, subject(step) + " has no " + noun + ", expected " + expected);
      return;
    }
    std::string was;
    for (const std::string& s : seen) {
      was += (was.empty() ? "" : ", then ") + (kind == RecordKind::kState ? s : quoted(s));
    }
    add(step, step.line, std::string(noun) + " of " + subject(step) + (seen.size() == 1 ? " is " : " was ") + was +
                             ", expected " + expected);
  }

  // Every run and SMS up to the last step's second (or the end's) that no
  // line took.
  void unexpected() {
    const int64_t last = second_of(test_.last());
    for (size_t i = 0; i < records_.size(); ++i) {
      const Record& r = records_[i];
      if (taken_[i] || (r.kind != RecordKind::kRun && r.kind != RecordKind::kSms)) continue;
      if (second_of(r.ms) > last) break;
      add(r.ms, 0, "at " + format_test_time(r.ms) + ": unexpected " + describe(r));
    }
  }

  const TestFile& test_;
  const std::vector<Record>& records_;
  std::vector<bool> taken_;
  // The runs, SMS and log lines no line has taken, by kind, whether the
  // key is whole, and key, in time order: (second, record).
  std::map<std::tuple<RecordKind, bool, std::string>, std::set<std::pair<int64_t, size_t>>> untaken_;
  // The states and values by kind, reference and rule (by its name, or by
  // its number), in time order.
  std::map<std::tuple<RecordKind, int, bool, std::string>, std::vector<size_t>> published_;
  // The latest record taken of each kind in each second.
  std::map<std::pair<RecordKind, int64_t>, size_t> last_taken_;
  std::vector<Mismatch> found_;
};

}  // namespace

std::vector<Mismatch> compare_run(const TestFile& test, const std::vector<Record>& records) {
  return Judge(test, records).run();
}

std::string mismatch_line(const TestFile& test, const Mismatch& m) {
  return test.file + (m.line > 0 ? ":" + std::to_string(m.line) : std::string()) + ": " + m.text;
}

void print_trace(const TestFile& test, const std::vector<Record>& records, std::ostream& out) {
  out << "config " << test.config_written << "\nclock " << test.clock << " " << test.zone << "\nhostname "
      << test.hostname << "\n";
  for (const ProgramEnd& p : test.programs) {
    out << "program " << p.path << " exits " << p.status;
    if (p.after != 0) out << " after " << format_test_time(p.after);
    out << "\n";
  }
  // A rule is named by its name where that is one word shared by no other
  // rule and no number, else by its number.
  std::map<std::string, std::set<int>> rules_named;
  for (const Record& r : records) {
    if (r.kind == RecordKind::kState || r.kind == RecordKind::kValue) rules_named[r.rule_name].insert(r.rule);
  }
  auto rule = [&](const Record& r) {
    const std::string& name = r.rule_name;
    const bool usable = !name.empty() && name.find_first_of(" \t") == std::string::npos &&
                        name.find_first_not_of("0123456789") != std::string::npos && rules_named[name].size() == 1;
    return (usable ? name : std::to_string(r.rule)) + " " + std::to_string(r.ref);
  };
  // A state or value that another of the same reference replaced within
  // the same millisecond is one no expect line can see: it is a comment.
  std::vector<bool> passed(records.size(), false);
  std::set<std::tuple<RecordKind, int, int>> later;
  for (size_t i = records.size(); i-- > 0;) {
    const Record& r = records[i];
    if (i + 1 < records.size() && records[i + 1].ms != r.ms) later.clear();
    if (r.kind == RecordKind::kState || r.kind == RecordKind::kValue) {
      passed[i] = !later.insert({r.kind, r.rule, r.ref}).second;
    }
  }
  int64_t last = test.last();
  for (size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    last = std::max(last, r.ms);
    const std::string at = "at " + format_test_time(r.ms) + " ";
    switch (r.kind) {
      case RecordKind::kUpdate:
        out << at << "push " << r.key << " " << r.text << "\n";
        break;
      case RecordKind::kReply:
        out << at << "reply " << r.key << " " << r.text << "\n";
        break;
      case RecordKind::kCommand:
        out << at << "command " << r.text << "\n";
        break;
      case RecordKind::kConfig:
        out << at << "config " << r.text << "\n";
        break;
      case RecordKind::kHup:
        out << at << "hup\n";
        if (!r.text.empty()) out << "# " << at << "reloaded: " << r.text << "\n";
        break;
      case RecordKind::kRestart:
        out << at << "restart" << (r.text.empty() ? "" : " after " + r.text) << "\n";
        break;
      case RecordKind::kTick:
        out << "# " << at << "tick\n";
        break;
      case RecordKind::kState:
      case RecordKind::kValue:
        out << (passed[i] ? "# " + at + "passed " : at + "expect ")
            << (r.kind == RecordKind::kState ? "state " : "value ") << rule(r) << " " << r.text << "\n";
        break;
      case RecordKind::kLog:
        out << at << "expect log " << r.text << "\n";
        break;
      case RecordKind::kSyslog:
        out << "# " << at << "daemon: " << r.text << "\n";
        break;
      case RecordKind::kPush:
        out << "# " << at << "infod gets " << r.key << " " << r.status << " " << r.text << "\n";
        break;
      case RecordKind::kRun:
        out << at << "expect run " << command_line(r.program, r.args) << "\n";
        for (const std::string& e : r.env) out << at << "expect env " << e << "\n";
        break;
      case RecordKind::kExit:
        out << "# " << at << r.program << " exits with status " << r.status << "\n";
        break;
      case RecordKind::kSms:
        out << at << "expect sms " << r.key << " " << r.text << "\n";
        break;
    }
  }
  out << "at " << format_test_time(last) << " end\n";
}
