// The in-process test daemon.
#include "support/test_daemon.h"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <event2/event.h>
#include <event2/event_compat.h>
#include <filesystem>
#include <sstream>

#include "base/log.h"
#include "daemon/daemon.h"
#include "daemon/reload.h"
#include "link/link.h"
#include "model/autoresponse.h"
#include "support/e2e.h"

namespace {

std::string text(const ConfigBuilder::Node& node) {
  std::string out = "<" + node.name + ">";
  for (char c : node.children.empty() ? node.value : "") {
    out += c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '&' ? "&amp;" : std::string(1, c);
  }
  for (const ConfigBuilder::Node& child : node.children) out += text(child);
  return out + "</" + node.name + ">\n";
}

}  // namespace

ConfigBuilder& ConfigBuilder::set(const std::string& path, const std::string& value) {
  Node* node = &root_;
  std::istringstream names(path.substr(path.find('.') + 1));  // the first is "config" itself
  for (std::string name; std::getline(names, name, '.');) {
    auto it = std::find_if(node->children.begin(), node->children.end(), [&](const Node& c) { return c.name == name; });
    node = it != node->children.end() ? &*it : &node->children.emplace_back(Node{name, "", {}});
  }
  node->value = value;
  return *this;
}

std::string ConfigBuilder::xml() const { return "<?xml version=\"1.0\"?>\n" + text(root_); }

pid_t FakeSpawner::spawn(const char* path, char* const argv[], char* const envp[]) {
  if (fail > 0) return --fail, errno = EAGAIN, -1;  // as when the system is out of processes
  Start s{path, {}, {}, argv != nullptr, envp != nullptr, real != nullptr ? real->spawn(path, argv, envp) : next_pid++};
  for (char* const* a = argv; a != nullptr && *a != nullptr; ++a) s.argv.emplace_back(*a);
  for (char* const* e = envp; e != nullptr && *e != nullptr; ++e) s.envp.emplace_back(*e);
  if (on_spawn) on_spawn(s);
  starts.push_back(s);
  return s.pid;
}

LogCapture::LogCapture() {
  log_set_observer([](int priority, const char* text, void* seen) {
    static_cast<std::vector<LogRecord>*>(seen)->push_back(LogRecord{priority, text});
  }, &records);
}

LogCapture::~LogCapture() { log_set_observer(nullptr, nullptr); }

std::vector<std::string> LogCapture::texts(int priority) const {
  std::vector<std::string> out;
  for (const LogRecord& r : records) if (priority < 0 || r.priority == priority) out.push_back(r.text);
  return out;
}

namespace {

Paths test_paths(const std::string& dir) {
  Paths paths = Paths::under(dir);
  paths.config_file = dir + "/config.xml";
  return paths;
}

std::string make_dir() {
  char tmpl[] = "/tmp/ar-test-XXXXXX";
  return mkdtemp(tmpl);
}

}  // namespace

TestDaemon::TestDaemon() : dir_(make_dir()), paths(test_paths(dir_)), ctx(paths, clock, spawner) {
  base_ = event_init();
  // No socket: messages stay queued for take_sent.
  ctx.link.fd = -1;
  ctx.link.write_event_added = true;
  ctx.link.on_message = dispatch_message;
  ctx.link.owner = &ctx;
  ctx.tick_event.set(-1, 0, daemon_tick, &ctx);
  ctx.engine.records = &records;
  ctx.queue.records = &records;
  ctx.engine.boot_id = "b007";
  setenv("XMLDB_PATH", (dir_ + "/config.xml").c_str(), 1);
}

TestDaemon::~TestDaemon() {
  unload_config(&ctx);
  ctx.tick_event.reset();
  event_base_free(base_);
  unsetenv("XMLDB_PATH");
  std::filesystem::remove_all(dir_);
}

void TestDaemon::write_config(const ConfigBuilder& config) { e2e::write_file(dir_ + "/config.xml", config.xml()); }

int TestDaemon::load() { return load_config(&ctx); }

int TestDaemon::load(const ConfigBuilder& config) {
  write_config(config);
  const int result = load();
  return take_sent(), result;
}

int TestDaemon::deliver(const std::string& key, const std::string& value, uint64_t time_ms) {
  return take(update_body(key, 0, time_ms, value));
}

int TestDaemon::take(std::string body) {
  InfodMessage message;
  split_message(body.data(), &message);
  return dispatch_message(&ctx, message);
}

const std::string TestDaemon::kKeptPrefix = "config.autoresponse.daemon.kept.";

std::vector<SentMessage> TestDaemon::take_sent() {
  std::vector<SentMessage> out;
  for (const std::string& message : link_queued(&ctx.link)) {
    // Type, then key, number and value (which may hold RS) of a push, else client name and key.
    const std::string body = message.substr(kFrameHeader);
    SentMessage& m = out.emplace_back();
    m.type = atoi(body.c_str());
    const size_t fields = m.type == kInfodPush ? 4 : 3;
    const std::vector<std::string_view> f = split_fields(body, fields);
    if (f.size() == fields && m.type == kInfodPush) {
      m.key = f[1];
      m.number = atoi(std::string(f[2]).c_str());
      m.value = f[3];
    } else if (f.size() == fields) {
      m.key = f[2];
    }
    if (m.type == 1 && m.key.rfind(kKeptPrefix, 0) == 0) {
      kept[m.key.substr(kKeptPrefix.size())] = m.value;
      out.pop_back();
    }
  }
  link_drop_queued(&ctx.link);
  return out;
}

std::vector<std::string> TestDaemon::values_of(const std::vector<SentMessage>& sent, const std::string& key) {
  std::vector<std::string> values;
  for (const SentMessage& m : sent) if (m.type == 1 && m.key == key) values.push_back(m.value);
  return values;
}

void TestDaemon::tick() { daemon_tick(-1, 0, &ctx); }

void TestDaemon::child_exits(pid_t pid, int code) { ctx.queue.child_ended(pid, W_EXITCODE(code, 0)); }

bool TestDaemon::logged(const std::string& text) const {
  return std::any_of(logs.begin(), logs.end(),
                     [&](const LogRecord& r) { return r.text.find(text) != std::string::npos; });
}

int TestDaemon::logged_at(int priority, const std::string& text) const {
  return int(std::count_if(logs.begin(), logs.end(), [&](auto& r) { return r.priority == priority && r.text == text; }));
}

ArCheck& TestDaemon::check(size_t n) { return *std::next(ctx.config->checks.begin(), static_cast<long>(n)); }
