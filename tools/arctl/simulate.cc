// The simulated daemon of `arctl test`: the daemon's own loader, engine,
// tick and action queue, handed a simulated clock and recorders in place
// of infod, the spawner and the SMS spool, driven through a test's steps in
// time order.
#include "arctl/simulate.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "actions/queue.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/record_store.h"
#include "config/loader.h"
#include "daemon/daemon.h"
#include "engine/control.h"
#include "engine/deliver.h"
#include "engine/load.h"
#include "engine/start.h"
#include "engine/engine.h"
#include "engine/state.h"
#include "engine/tick.h"
#include "model/autoresponse.h"
#include "model/ref_key.h"
#include "wire/message.h"

namespace {

// An unanswered get costs the daemon this long: the time infod is given.
constexpr int64_t kGetWaitMs = 2000;
// Where the simulated monotonic clock starts: any value does, but not 0.
constexpr int64_t kMonotonicStart = 100000;
constexpr int64_t kTickMs = kTickSeconds * 1000;
// The first pid of a simulated child; its signals go to the spawner.
constexpr pid_t kFirstPid = 1000;

constexpr char kRulePrefix[] = "config.autoresponse.autoresponse";
// What the daemon shows in infod of its restart records
// (engine/restart_record.h): out of the trace.
constexpr char kShownPrefix[] = "config.autoresponse.daemon.record.";
// The boot the simulated daemon runs in, whatever restarts it goes through.
constexpr char kBootId[] = "00000000-0000-0000-0000-000000000000";

// Everything the simulated daemon did, and the simulated time it did it at.
struct Run {
  std::vector<Record> records;
  int64_t now = 0;  // milliseconds from the start
  time_t wall0 = 0;
  bool loading = false;                   // a load's own information lines stay out of the trace

  Record& add(RecordKind kind) {
    Record& r = records.emplace_back();
    r.ms = now;
    r.kind = kind;
    return r;
  }
};

class SimClock final : public Clock {
 public:
  explicit SimClock(Run& run) : run_(run) {}
  int64_t monotonic_ms() override { return kMonotonicStart + run_.now; }
  int64_t wall_ms() override { return static_cast<int64_t>(run_.wall0) * 1000 + run_.now; }

 private:
  Run& run_;
};

// infod: states, current values and log lines are recorded as such, the
// shown restart records left out, any other push recorded as what it is.
class RecordingPublisher final : public Publisher {
 public:
  // Rules are named as the load in force (config) names them.
  RecordingPublisher(Run& run, const std::unique_ptr<LoadedConfig>& config) : run_(run), config_(config) {}
  int push(const char* key, int number, const char* value) override {
    if (std::string_view(key).starts_with(kShownPrefix)) return 0;
    if (strcmp(key, kLogKey) == 0) {
      run_.add(RecordKind::kLog).text = value;
    } else {
      Record& r = run_.add(RecordKind::kPush);
      r.key = key;
      r.text = value;
      r.status = number;
    }
    return 0;
  }
  int push_status(const char* key, const char* value) override {
    // "config.autoresponse.autoresponseN.refs.refM" and its ".curr_entry".
    int rule = 0, ref = 0, used = 0;
    const std::string format = std::string(kRulePrefix) + "%d" + kRefsInfix + "%d%n";
    if (sscanf(key, format.c_str(), &rule, &ref, &used) == 2 &&
        (key[used] == '\0' || strcmp(key + used, kCurrEntry) == 0)) {
      Record& r = run_.add(key[used] == '\0' ? RecordKind::kState : RecordKind::kValue);
      r.rule = rule;
      r.rule_name = rule_name(rule);
      r.ref = ref;
      r.text = value;
      return 0;
    }
    return push((std::string(key) + ".status").c_str(), 2, value);
  }
  int subscribe(const char* /*key*/) override { return 0; }
  int unsubscribe(const char* /*key*/) override { return 0; }
  // A get's reply comes as soon as the simulated daemon reads again.
  int get(const char* key) override {
    gets.emplace_back(key);
    return 0;
  }
  bool stopped() const override { return false; }

  // The keys asked for and not yet answered, in order.
  std::vector<std::string> gets;

 private:
  // The load's rules are in the order of their numbers.
  std::string rule_name(int index) const {
    if (config_ == nullptr) return std::string();
    const RuleList& rules = config_->rules;
    const auto it = std::lower_bound(rules.begin(), rules.end(), index, [](const AutoResponse& ar, int n) {
      return static_cast<int>(ar.index) < n;
    });
    return it != rules.end() && static_cast<int>(it->index) == index ? it->name : std::string();
  }

  Run& run_;
  const std::unique_ptr<LoadedConfig>& config_;
};

struct ProgramRun {
  std::string path;
  bool ended = false;
};

// A child that ends at a simulated time with a wait status.
struct ChildEnd {
  int64_t ms;
  pid_t pid;
  int wait_status;
};

// Starts nothing: records each program and when, by the test's program
// lines, it ends. A signal ends it at once.
class RecordingSpawner final : public Spawner {
 public:
  RecordingSpawner(Run& run, const std::vector<ProgramEnd>& programs) : run_(run), programs_(programs) {}

  pid_t spawn(const char* path, char* const argv[], char* const envp[]) override {
    Record& r = run_.add(RecordKind::kRun);
    r.program = path;
    for (char* const* a = argv; a != nullptr && *a != nullptr; ++a) {
      if (a != argv) r.args.emplace_back(*a);
    }
    for (char* const* e = envp; e != nullptr && *e != nullptr; ++e) r.env.emplace_back(*e);
    const pid_t pid = next_pid_++;
    children_[pid].path = path;
    int status = 0;
    int64_t after = 0;
    for (const ProgramEnd& p : programs_) {
      if (p.path == path) status = p.status, after = p.after;
    }
    end_at(run_.now + after, pid, W_EXITCODE(status, 0));
    return pid;
  }

  void kill_child(pid_t pid, int sig) override {
    auto it = children_.find(pid);
    if (it != children_.end() && !it->second.ended) end_at(run_.now, pid, sig);  // a wait status of that signal
  }

  // The next child's end due by now, taken off the list.
  std::optional<ChildEnd> due() {
    for (auto it = ends_.begin(); it != ends_.end(); ++it) {
      if (it->ms > run_.now) break;
      const ChildEnd end = *it;
      ends_.erase(it);
      ProgramRun& child = children_[end.pid];
      if (child.ended) return due();  // already ended by a signal
      child.ended = true;
      Record& r = run_.add(RecordKind::kExit);
      r.program = child.path;
      r.status = action_exit_status(end.wait_status);
      return end;
    }
    return std::nullopt;
  }
  // When the next child ends; -1 when none runs.
  int64_t next() const { return ends_.empty() ? -1 : ends_.front().ms; }

  // The daemon that started the running children is gone: their ends
  // reach no one.
  void forget_running() {
    for (const ChildEnd& end : ends_) children_[end.pid].ended = true;
    ends_.clear();
  }

 private:
  // Ends are kept in time order, those of the same time in the order they were decided.
  void end_at(int64_t ms, pid_t pid, int wait_status) {
    auto it = ends_.begin();
    while (it != ends_.end() && it->ms <= ms) ++it;
    ends_.insert(it, {ms, pid, wait_status});
  }

  Run& run_;
  const std::vector<ProgramEnd>& programs_;
  pid_t next_pid_ = kFirstPid;
  std::map<pid_t, ProgramRun> children_;
  std::vector<ChildEnd> ends_;
};

class RecordingSpool final : public SmsSpool {
 public:
  explicit RecordingSpool(Run& run) : run_(run) {}
  Result spool(const std::string& number, const std::string& message) override {
    Record& r = run_.add(RecordKind::kSms);
    r.key = number;
    r.text = message;
    return kDelivered;
  }

 private:
  Run& run_;
};

// infod's answers to gets: the test's reply lines so far. An unanswered
// get costs the daemon its wait.
class ReplyCounter final : public TriggerCounter {
 public:
  explicit ReplyCounter(Run& run) : run_(run) {}
  int fetch(const std::string& key, std::optional<std::string>* stored) override {
    auto it = replies.find(key);
    if (it == replies.end()) {
      run_.now += kGetWaitMs;
      return -1;
    }
    *stored = it->second;
    return 0;
  }
  void save(const std::string& key, const std::string& text) override { replies[key] = text; }

  std::map<std::string, std::string> replies;

 private:
  Run& run_;
};

void keep_log_line(int priority, const char* message, void* data) {
  Run& run = *static_cast<Run*>(data);
  if (run.loading && priority > kLogWarn) return;
  run.add(RecordKind::kSyslog).text = message;
}

// The daemon, minus the process: what it runs and how it is wired. infod
// (the publisher, the replies), the programs and the clock outlive a
// restart; the queue, the engine and the load in force are the process's.
class Simulator {
 public:
  Simulator(const TestFile& test, Run& run)
      : test_(test),
        run_(run),
        paths_(Paths::fixed()),
        clock_(run),
        publisher_(run, config_),
        spawner_(run, test.programs),
        spool_(run),
        counter_(run),
        config_file_(test.config) {
    for (const Step& s : test.steps) {
      if (is_input(s)) inputs_.push_back(&s);
    }
    // A series is in order by its first push; pushes of the same time go
    // in the file's order.
    std::stable_sort(inputs_.begin(), inputs_.end(), [](const Step* a, const Step* b) { return a->from < b->from; });
  }
  ~Simulator() {
    if (queue_ != nullptr) engine_release(engine_);
  }

  // A process of the daemon starts, as at time 0 and after a restart: a
  // new queue and engine, the tick 5 s on, the configuration opened and
  // started with what infod kept (src/daemon/reload.cc, start_config).
  // False when the file cannot be opened: the process runs without rules.
  bool start() {
    queue_ = std::make_unique<ActionQueue>(publisher_, clock_, spawner_);
    queue_->records = &records_;
    actions_.emplace(ActionEnv{
        .paths = paths_, .spool = spool_, .clock = clock_, .hostname = test_.hostname, .publisher = publisher_,
        .queue = *queue_});
    engine_ = Engine();
    engine_.publisher = &publisher_;
    engine_.queue = queue_.get();
    engine_.actions = &*actions_;
    engine_.clock = &clock_;
    engine_.counter = &counter_;
    engine_.records = &records_;
    engine_.boot_id = kBootId;
    next_tick_ = run_.now + kTickMs;
    xmldb_t* db = xmldb_open(config_file_.c_str());
    if (db == nullptr) {
      ar_log(kLogFatal, "Could not open config database");
      return false;
    }
    run_.loading = true;
    engine_start(engine_, &config_, config_load(db));
    run_.loading = false;
    note_rules();
    return true;
  }

  // Drives the steps, the children's ends and the tick in time order up to
  // the end of the last step's second, or up to until (inclusive).
  void drive(int64_t until = -1) {
    const int64_t end = until >= 0 ? until : test_.last() / 1000 * 1000 + 999;
    size_t step = 0;
    while (true) {
      // Down: no tick, no update, no child's end; infod's values and the
      // files change, and the next process starts at its time.
      if (down_until_ >= 0) {
        if (step < inputs_.size() && inputs_[step]->from <= run_.now) {
          if (!take(*inputs_[step++])) return;
        } else if (down_until_ <= run_.now) {
          down_until_ = -1;
          start();
        } else {
          const int64_t next = step < inputs_.size() ? std::min(inputs_[step]->from, down_until_) : down_until_;
          if (next > end) return;
          run_.now = next;
        }
        continue;
      }
      if (std::optional<ChildEnd> child = spawner_.due()) {
        queue_->child_ended(child->pid, child->wait_status);
        continue;
      }
      if (next_tick_ <= run_.now) {
        const size_t before = run_.records.size();
        const int64_t at = run_.now;
        engine_tick(engine_);
        if (run_.records.size() > before) {
          Record tick;
          tick.ms = at;
          tick.kind = RecordKind::kTick;
          run_.records.insert(run_.records.begin() + static_cast<long>(before), tick);
        }
        // The daemon arms its next tick as each one ends: one held up (by
        // a get infod does not answer) moves the ticks after it.
        next_tick_ = run_.now + kTickMs;
        continue;
      }
      // infod answers the gets as soon as the replies given for this
      // time are in: one without a reply finds no value.
      const bool reply_due = step < inputs_.size() && inputs_[step]->from <= run_.now && inputs_[step]->kind == StepKind::kReply;
      if (!publisher_.gets.empty() && !reply_due) {
        if (!answer_gets()) return;
        continue;
      }
      if (step < inputs_.size() && inputs_[step]->from <= run_.now) {
        if (!take(*inputs_[step++])) return;
        continue;
      }
      // Ticks that cannot change anything are skipped: an idle stretch
      // costs nothing however long it is.
      int64_t next = engine_tick_idle(engine_) ? end + 1 : next_tick_;
      if (spawner_.next() >= 0 && spawner_.next() < next) next = spawner_.next();
      if (step < inputs_.size() && inputs_[step]->from < next) next = inputs_[step]->from;
      if (next > end) return;
      run_.now = next;
      if (next_tick_ < run_.now) next_tick_ += (run_.now - next_tick_ + kTickMs - 1) / kTickMs * kTickMs;
    }
  }

  // The running process's engine and queue; null while it is down.
  Engine* engine() { return queue_ != nullptr && down_until_ < 0 ? &engine_ : nullptr; }
  const ActionQueue* queue() const { return queue_.get(); }
  bool at(int64_t ms) {
    if (run_.now < ms) run_.now = ms;
    return true;
  }

  // Whether every expect line names a rule and a reference of some load.
  bool rules_known(std::string* fault) const {
    for (const Step& s : test_.steps) {
      if (s.kind != StepKind::kExpectState && s.kind != StepKind::kExpectValue) continue;
      const std::string where = test_.file + ":" + std::to_string(s.line) + ": ";
      std::vector<int> numbers;
      const std::optional<int> number = rule_number(s.key);
      for (const auto& [n, rule] : rules_seen_) {
        if (number ? *number == n : rule.names.count(s.key) > 0) numbers.push_back(n);
      }
      if (numbers.empty()) return *fault = where + test_.config + " has no rule " + s.key, false;
      if (numbers.size() > 1) return *fault = where + "several rules are named " + s.key + ": give the number", false;
      if (rules_seen_.at(numbers[0]).refs.count(s.ref) == 0) {
        return *fault = where + "rule " + s.key + " has no reference " + std::to_string(s.ref), false;
      }
    }
    return true;
  }

 private:
  struct Rule {
    std::set<std::string> names;
    std::set<int> refs;
  };

  // The names and references of the load in force, for the expect lines.
  void note_rules() {
    if (config_ == nullptr) return;
    for (const AutoResponse& ar : config_->rules) rules_seen_[static_cast<int>(ar.index)].names.insert(ar.name);
    for (const ArCheck& check : config_->checks) {
      rules_seen_[static_cast<int>(check.conf.ar->index)].refs.insert(static_cast<int>(check.conf.ref_index));
    }
  }

  // The daemon's load on SIGHUP: a file that cannot be opened leaves the
  // running rules as they are. What it kept and changed goes with the hup.
  void reload(size_t hup) {
    xmldb_t* db = xmldb_open(config_file_.c_str());
    if (db == nullptr) {
      ar_log(kLogFatal, "Could not open config database");
      return;
    }
    run_.loading = true;
    const bool first = config_ == nullptr;
    ReloadOutcome outcome;
    engine_load(engine_, &config_, db, &outcome);
    run_.loading = false;
    run_.records[hup].text = first ? "-" : reload_outcome_text(outcome);
    note_rules();
  }

  // The process ends as a killed one does: nothing more is sent, the
  // running children's ends reach no one, and what the queue held is gone
  // but for what it kept. Then a new one starts, after downtime ms.
  void restart(int64_t downtime) {
    engine_release(engine_);
    actions_.reset();
    queue_.reset();
    config_.reset();
    spawner_.forget_running();
    if (downtime > 0) {
      down_until_ = run_.now + downtime;
      return;
    }
    start();
  }

  // The replies to the gets asked for; false when the daemon would have
  // ended there.
  bool answer_gets() {
    std::vector<std::string> gets;
    gets.swap(publisher_.gets);
    for (const std::string& key : gets) {
      const auto it = counter_.replies.find(key);
      if (engine_reply(engine_, key.c_str(), it != counter_.replies.end() ? it->second.c_str() : nullptr) != 0) {
        run_.add(RecordKind::kSyslog).text = "the daemon ends here with exit status 1";
        return false;
      }
    }
    return true;
  }

  // One input step; false when the daemon would have ended there.
  bool take(const Step& s) {
    int result = 0;
    switch (s.kind) {
      case StepKind::kPush: {
        Record& r = run_.add(RecordKind::kUpdate);
        r.key = s.key;
        r.text = s.text;
        // Written as infod sends it and split as the link splits it: an
        // update without a value is refused there as it is here.
        const uint64_t time_ms = static_cast<uint64_t>(run_.wall0) * 1000 + static_cast<uint64_t>(run_.now);
        std::string body = update_body(s.key, 0, time_ms, s.text);
        InfodMessage message;
        split_message(body.data(), &message);
        result = take_infod_message(engine_, message);
        break;
      }
      case StepKind::kReply: {
        Record& r = run_.add(RecordKind::kReply);
        r.key = s.key;
        r.text = s.text;
        counter_.replies[s.key] = s.text;
        break;
      }
      case StepKind::kCommand:
        run_.add(RecordKind::kCommand).text = s.text;
        result = control_handle(engine_, s.text.c_str());
        break;
      case StepKind::kConfig:
        run_.add(RecordKind::kConfig).text = s.text;
        config_file_ = s.key;
        break;
      case StepKind::kHup: {
        const size_t hup = run_.records.size();
        run_.add(RecordKind::kHup);
        ar_log(kLogInfo, "SIGHUP - Reloading Config");
        reload(hup);
        break;
      }
      case StepKind::kRestart:
        run_.add(RecordKind::kRestart).text = s.after > 0 ? format_test_time(s.after) : "";
        restart(s.after);
        break;
      default:
        break;
    }
    if (result == 0) return true;
    run_.add(RecordKind::kSyslog).text = "the daemon ends here with exit status 1";
    return false;
  }

  const TestFile& test_;
  Run& run_;
  // The load in force; null before the first.
  std::unique_ptr<LoadedConfig> config_;
  Paths paths_;
  SimClock clock_;
  RecordingPublisher publisher_;
  // What the daemon keeps for a restart, which outlives its process.
  MemoryRecords records_;
  RecordingSpawner spawner_;
  RecordingSpool spool_;
  ReplyCounter counter_;
  std::unique_ptr<ActionQueue> queue_;
  std::optional<ActionEnv> actions_;  // what queue_'s action kinds work with
  Engine engine_;
  // The file the next load reads.
  std::string config_file_;
  std::vector<const Step*> inputs_;
  int64_t next_tick_ = kTickMs;
  int64_t down_until_ = -1;  // when the process stopped by a restart starts again; -1 while one runs
  std::map<int, Rule> rules_seen_;
};

// Holds the log observer for one simulation.
class LogCapture {
 public:
  explicit LogCapture(Run& run) { log_set_observer(keep_log_line, &run); }
  ~LogCapture() { log_set_observer(nullptr, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
};

}  // namespace

bool simulate(const TestFile& test, std::vector<Record>* records, std::string* fault, int64_t until,
              const SimulatedLook& look) {
  records->clear();
  Run run;
  if (!start_wall_clock(test, &run.wall0, fault)) return false;
  const LogCapture capture(run);
  Simulator daemon(test, run);
  if (!daemon.start()) {
    *fault = test.file + ":" + std::to_string(test.config_line) + ": " + test.config +
             " cannot be opened as a configuration";
    return false;
  }
  daemon.drive(until);
  if (until >= 0 && look) {
    daemon.at(until);
    if (Engine* engine = daemon.engine()) {
      look(*engine, *daemon.queue());
    } else {
      *fault = test.file + ": the daemon is down at " + format_test_time(until);
      return false;
    }
  }
  if (!daemon.rules_known(fault)) return false;
  *records = std::move(run.records);
  return true;
}
