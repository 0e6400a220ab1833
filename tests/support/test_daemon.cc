// The in-process test daemon.
#include "support/test_daemon.h"

#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <event.h>
#include <fstream>
#include <functional>

#include "config/autoresponse.h"
#include "core/link.h"
#include "core/log.h"
#include "core/control.h"
#include "engine/tick.h"

namespace {

std::string xml_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      default: out += c;
    }
  }
  return out;
}

struct Node {
  std::string name;
  std::string value;
  bool has_value = false;
  std::vector<Node> children;
  Node& child(const std::string& n) {
    for (Node& c : children) {
      if (c.name == n) return c;
    }
    children.push_back(Node{n, "", false, {}});
    return children.back();
  }
  void write(std::string* out, int depth) const {
    std::string indent(static_cast<size_t>(depth) * 2, ' ');
    if (children.empty()) {
      *out += indent + "<" + name + ">" + xml_escape(value) + "</" + name + ">\n";
      return;
    }
    *out += indent + "<" + name + ">\n";
    for (const Node& c : children) c.write(out, depth + 1);
    *out += indent + "</" + name + ">\n";
  }
};

void observe(int priority, const char* message, void* data) {
  static_cast<std::vector<LogRecord>*>(data)->push_back(LogRecord{priority, message});
}

}  // namespace

ConfigBuilder& ConfigBuilder::set(const std::string& path, const std::string& value) {
  for (auto& e : entries_) {
    if (e.first == path) {
      e.second = value;
      return *this;
    }
  }
  entries_.emplace_back(path, value);
  return *this;
}

std::string ConfigBuilder::xml() const {
  Node root{"config", "", false, {}};
  for (const auto& [path, value] : entries_) {
    Node* node = &root;
    size_t start = path.find('.');  // the first component is "config"
    while (start != std::string::npos) {
      const size_t dot = path.find('.', start + 1);
      node = &node->child(path.substr(start + 1, dot == std::string::npos ? dot : dot - start - 1));
      start = dot;
    }
    node->value = value;
    node->has_value = true;
  }
  std::string out = "<?xml version=\"1.0\"?>\n";
  root.write(&out, 0);
  return out;
}

pid_t FakeSpawner::spawn(const char* path, char* const argv[], char* const envp[]) {
  Start s;
  s.path = path != nullptr ? path : "";
  s.has_argv = argv != nullptr;
  s.has_envp = envp != nullptr;
  for (char* const* a = argv; a != nullptr && *a != nullptr; ++a) s.argv.emplace_back(*a);
  for (char* const* e = envp; e != nullptr && *e != nullptr; ++e) s.envp.emplace_back(*e);
  if (fail) {
    errno = EAGAIN;
    return -1;
  }
  s.pid = next_pid++;
  starts.push_back(s);
  return s.pid;
}

std::vector<SentMessage> parse_messages(const std::string& bytes) {
  std::vector<SentMessage> out;
  size_t pos = 0;
  while (pos + 4 <= bytes.size()) {
    uint32_t length;
    memcpy(&length, bytes.data() + pos, 4);
    length = ntohl(length);
    const std::string body = bytes.substr(pos + 4, length);
    pos += 4 + length;
    std::vector<std::string> fields;
    size_t start = 0;
    // Pushes carry four fields, the last of which may itself hold RS.
    for (int i = 0; i < 3; ++i) {
      const size_t rs = body.find(kRS, start);
      if (rs == std::string::npos) break;
      fields.push_back(body.substr(start, rs - start));
      start = rs + 1;
    }
    fields.push_back(body.substr(start));
    SentMessage m;
    m.type = atoi(fields[0].c_str());
    if (m.type == 1 && fields.size() == 4) {
      m.key = fields[1];
      m.number = atoi(fields[2].c_str());
      m.value = fields[3];
    } else if (fields.size() >= 3) {
      m.key = fields[2];
      for (size_t i = 3; i < fields.size(); ++i) m.key += kRS + fields[i];
    }
    out.push_back(m);
  }
  return out;
}

TestDaemon::TestDaemon() {
  char tmpl[] = "/tmp/ar-test-XXXXXX";
  dir_ = mkdtemp(tmpl);
  paths = Paths::under(dir_);
  base_ = event_init();
  ctx.paths = &paths;
  ctx.clock = &clock;
  ctx.spawner = &spawner;
  ctx.control_key = kControlTable.key;
  // No socket: messages stay in out_queue for take_sent, and the write
  // event is never added.
  ctx.infod_fd = -1;
  ctx.write_event_added = true;
  event_set(&ctx.tick_event, -1, 0, ar_tick, &ctx);
  log_set_observer(observe, &logs);
  setenv("XMLDB_PATH", (dir_ + "/config.xml").c_str(), 1);
}

TestDaemon::~TestDaemon() {
  log_set_observer(nullptr, nullptr);
  unload_config(&ctx);
  event_del(&ctx.tick_event);
  ctx.action_queue.clear();
  ctx.checks.clear();
  ctx.autoresponses.clear();
  if (base_ != nullptr) event_base_free(base_);
  unsetenv("XMLDB_PATH");
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (system(cmd.c_str()) != 0) {
  }
}

void TestDaemon::write_config(const ConfigBuilder& config) { write_config(config.xml()); }

void TestDaemon::write_config(const std::string& xml) {
  // Written beside and renamed into place, as the appliance does, so a
  // reader never sees half a file.
  const std::string path = dir_ + "/config.xml";
  const std::string tmp = path + ".new";
  std::ofstream(tmp) << xml;
  rename(tmp.c_str(), path.c_str());
}

int TestDaemon::load() { return load_config(&ctx); }

int TestDaemon::deliver(const std::string& key, const std::string& value, uint64_t time_ms) {
  std::string body = "8";
  body += kRS;
  body += key;
  body += kRS;
  body += "0";
  body += kRS;
  body += std::to_string(time_ms);
  body += kRS;
  body += value;
  body += "\r\n";
  ctx.body.assign(body.begin(), body.end());
  ctx.body.push_back('\0');
  ctx.body_len = static_cast<uint32_t>(body.size());
  return link_handle_message(&ctx);
}

std::vector<SentMessage> TestDaemon::take_sent() {
  std::string bytes;
  for (const InfodMessage& m : ctx.out_queue) bytes += m.text;
  ctx.out_queue.clear();
  return parse_messages(bytes);
}

std::vector<std::string> TestDaemon::values_of(const std::vector<SentMessage>& sent, const std::string& key) {
  std::vector<std::string> values;
  for (const SentMessage& m : sent) {
    if (m.type == 1 && m.key == key) values.push_back(m.value);
  }
  return values;
}

void TestDaemon::tick() { ar_tick(-1, 0, &ctx); }

void TestDaemon::child_exits(pid_t pid, int code) { action_child_ended(&ctx, pid, W_EXITCODE(code, 0)); }

bool TestDaemon::logged(const std::string& text) const {
  for (const LogRecord& r : logs) {
    if (r.text.find(text) != std::string::npos) return true;
  }
  return false;
}

ArCheck& TestDaemon::check(size_t n) {
  auto it = ctx.checks.begin();
  std::advance(it, static_cast<long>(n));
  return *it;
}
