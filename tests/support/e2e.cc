#include "support/e2e.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

// How a program of this build starts: through the emulator of a cross build, or on its own.
const Strings kEmulator = {AR_EMULATOR};

}  // namespace

std::string read_file(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text, mode_t mode) {
  const std::string tmp = path + ".tmp";
  std::ofstream(tmp, std::ios::binary) << text;
  chmod(tmp.c_str(), mode);
  rename(tmp.c_str(), path.c_str());
}

TempDir::TempDir() {
  std::string tmpl = std::filesystem::temp_directory_path() / "ar-e2e-XXXXXX";
  path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : "";
}

TempDir::~TempDir() {
  std::error_code ignored;  // "" when the directory could not be made
  std::filesystem::remove_all(path_, ignored);
}

pid_t spawn(const std::string& binary, const Strings& args, int out_fd, const std::string& err_path,
            const std::map<std::string, std::string>& env) {
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The test process has no other threads, so the child may still allocate.
  dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
  dup2(out_fd >= 0 ? out_fd : open("/dev/null", O_WRONLY | O_CLOEXEC), 1);
  dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644), 2);
  for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
  execv(binary.c_str(), argv.data());
  _exit(127);
}

Strings built_command(const std::string& name) {
  const std::string path = kBuildDir + "/" + name;
  if (kEmulator.empty()) return {path};
  // The program gets its own path as argv[0] and the emulator's (that is, the caller's)
  // environment, as it would when started directly.
  Strings command = kEmulator;
  command.insert(command.end(), {"-0", path, path});
  return command;
}

pid_t spawn_built(const std::string& name, Strings args, int out_fd, const std::string& err_path,
                  const std::map<std::string, std::string>& env) {
  Strings command = built_command(name);
  args.insert(args.begin(), command.begin() + 1, command.end());
  return spawn(command.front(), args, out_fd, err_path, env);
}

std::string shell_quote(const Strings& words) {
  std::string out;
  for (const std::string& w : words) {
    out += (out.empty() ? "'" : " '");
    for (char c : w) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    out += "'";
  }
  return out;
}

Ran run(Strings command, const Strings& args, const std::string& out_path, const std::string& err_path,
        const std::map<std::string, std::string>& env, int timeout_ms) {
  command.insert(command.end(), args.begin(), args.end());
  const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const pid_t pid = spawn(command.front(), Strings(command.begin() + 1, command.end()), fd, err_path, env);
  close(fd);
  const int status = wait_exit(pid, timeout_ms);  // the command ends before its output is read
  return {status, read_file(out_path), read_file(err_path)};
}

bool can_unshare() { return geteuid() == 0 && system("unshare -m --propagation private true 2>/dev/null") == 0; }

pid_t spawn_unshared(const std::string& script, const std::string& err_path,
                     const std::map<std::string, std::string>& env) {
  return spawn("/usr/bin/unshare", {"-m", "--propagation", "private", "sh", "-c", script}, -1, err_path, env);
}

int wait_exit(pid_t pid, int timeout_ms) {
  int status = 0;
  if (pid <= 0) return -1;
  if (eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; }, timeout_ms)) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

Raw::Raw(const std::string& socket_path) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_un addr{AF_UNIX, {}};
  socket_path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd_);
    fd_ = -1;
  }
}

Raw::~Raw() { close(fd_); }

// A blocking stream socket takes all of it or fails.
bool Raw::write_all(const std::string& bytes) const {
  return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

std::string Raw::read_bytes(size_t len, int timeout_ms) const {
  std::string out(len, '\0');
  size_t got = 0;
  for (pollfd p{fd_, POLLIN, 0}; got < len && poll(&p, 1, timeout_ms) > 0;) {
    const ssize_t n = read(fd_, &out[got], len - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return out.substr(0, got);
}

std::string Raw::read_body(int timeout_ms) const {
  const std::string head = read_bytes(kFrameHeader, timeout_ms);
  return head.size() < kFrameHeader ? "" : read_bytes(frame_length(head.data()));
}

bool DevInfod::start() {
  pid = spawn_built("devinfod", {"serve", "--socket", socket, "--log", log}, -1, err);
  return pid > 0 && eventually([this] { return Raw(socket).connected(); });
}

int DevInfod::stop() {
  if (pid > 0) kill(pid, SIGTERM);
  return wait_exit(std::exchange(pid, -1));
}

std::pair<int, std::string> DevInfod::command(Strings args) const {
  args.insert(args.begin() + 1, {"--socket", socket});
  const Ran r = run(built_command("devinfod"), args, err + ".out", err);
  return {r.status, r.out};
}

bool DevInfod::logged(const std::string& text, int timeout_ms) const {
  return eventually([&] { return ("\n" + read_file(log)).find("\n" + text) != std::string::npos; }, timeout_ms);
}

Sandbox::Sandbox() {
  for (const char* d :
       {"/var/run", "/etc/config", "/etc/scripts", "/bin", "/tmp", "/proc", "/var/spool/sms/outgoing"}) {
    std::filesystem::create_directories(path(d));
  }
}

bool Sandbox::start_daemon(const std::string& log) {
  daemon = spawn_built("autoresponsed-dev", {}, -1, log.empty() ? path("/daemon.log") : log,
                 {{"AR_ROOT", path("")}, {"XMLDB_PATH", path("/etc/config/config.xml")}});
  return daemon > 0;
}

int bound_socket(int type, const std::string& path) {
  sockaddr_un addr{AF_UNIX, {}};
  const int fd = path.size() < sizeof addr.sun_path ? socket(AF_UNIX, type | SOCK_CLOEXEC, 0) : -1;
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

std::thread write_later(int fd, std::string bytes) {
  return std::thread([fd, bytes = std::move(bytes)] {
    for (size_t off = 0; off < bytes.size();) {
      const ssize_t n = write(fd, bytes.data() + off, bytes.size() - off);
      if (n > 0) {
        off += size_t(n);
      } else {
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 10000) <= 0) return;
      }
    }
  });
}

int Sandbox::start_daemon_against_own_socket(const std::string& log) {
  const int listener = bound_socket(SOCK_STREAM, path("/var/run/infod-sock"));
  int fd = -1;
  if (listener >= 0 && listen(listener, 1) == 0 && start_daemon(log)) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 30000) == 1) fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (listener >= 0) close(listener);
  return fd;
}

void fake(const Sandbox& box, const std::string& relative) {
  std::filesystem::create_symlink(kBuildDir + "/fake_program", box.path(relative));
}

void set_all(ConfigBuilder& c, const std::string& prefix, const std::string& settings) {
  std::istringstream in(settings);
  for (std::string kv; std::getline(in, kv, ';');) {
    c.set(prefix + kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1));
  }
}

void add_rule(ConfigBuilder& c, int n, const std::string& name, const std::string& check_type,
              const std::string& settings) {
  set_all(c.set(rule_path(n) + ".name", name).set(rule_path(n) + ".check_type", check_type), rule_path(n) + ".",
          settings);
}

int count(const std::string& text, const std::string& needle) {
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1)) ++n;
  return n;
}

void expect_no_sanitizer_report(const std::string& path) {
  const std::string log = read_file(path);
  for (const char* bad : {"Sanitizer", "runtime error"}) EXPECT_EQ(log.find(bad), std::string::npos) << log;
}

void expect_clean_end(Sandbox& box) {
  EXPECT_EQ(box.infod.stop(), 0);
  EXPECT_EQ(box.daemon_exit(20000), 1);
  expect_no_sanitizer_report(box.path("/daemon.log"));
  expect_no_sanitizer_report(box.infod.err);
}

}  // namespace e2e
