// End-to-end test support.
#include "support/e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace e2e {

const std::string& build_dir() {
  static const std::string dir = AR_BUILD_DIR;
  return dir;
}

const std::string& source_dir() {
  static const std::string dir = AR_SOURCE_DIR;
  return dir;
}

std::string frame(const std::string& body) {
  std::string f;
  const auto n = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<char>((n >> shift) & 0xff));
  return f + body;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& text, mode_t mode) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary);
    out << text;
  }
  chmod(tmp.c_str(), mode);
  rename(tmp.c_str(), path.c_str());
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string tmpl = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/ar-e2e-XXXXXX";
  path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : "";
}

TempDir::~TempDir() {
  if (!path_.empty() && std::system(("rm -rf '" + path_ + "'").c_str()) != 0) {
  }
}

pid_t spawn(const std::string& binary, const std::vector<std::string>& args, int out_fd, const std::string& err_path,
            const std::map<std::string, std::string>& env) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(binary.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) env_strings.push_back(entry);
  }
  for (const auto& [name, value] : env) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (out_fd >= 0) {
    posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addopen(&fa, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, binary.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

namespace {

int decode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return decode(status);
}

int wait_status_for(pid_t pid, int timeout_ms) {
  int status = 0;
  pid_t done = 0;
  eventually([&] { return (done = waitpid(pid, &status, WNOHANG)) != 0; }, timeout_ms);
  if (done == pid) return decode(status);
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

Result run(const std::string& binary, const std::vector<std::string>& args, const std::string& err_path) {
  Result r;
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return r;
  const pid_t pid = spawn(binary, args, p[1], err_path);
  close(p[1]);
  char buf[65536];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) r.out.append(buf, static_cast<size_t>(n));
  }
  close(p[0]);
  if (pid > 0) r.status = wait_status(pid);
  return r;
}

int connect_to(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return -1;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

Raw::Raw(const std::string& path) : fd_(connect_to(path)) {}

Raw::~Raw() {
  if (fd_ >= 0) close(fd_);
}

bool Raw::write_all(const std::string& bytes) const {
  size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

std::string Raw::read_bytes(size_t len, int timeout_ms) {
  std::string out;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[65536];
  while (out.size() < len) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = read(fd_, buf, std::min(sizeof buf, len - out.size()));
    eof_ = n == 0 || (n < 0 && errno == ECONNRESET);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

std::string Raw::read_body(int timeout_ms) {
  const std::string head = read_bytes(4, timeout_ms);
  if (head.size() < 4) return "";
  size_t len = 0;
  for (char c : head) len = (len << 8) | static_cast<unsigned char>(c);
  return read_bytes(len, timeout_ms);
}

bool Raw::closed_by_peer() {
  read_bytes(SIZE_MAX);
  return eof_;
}

std::vector<std::string> Raw::bodies_until_reply(const std::string& marker) {
  std::vector<std::string> bodies;
  if (!write_all(frame(std::string("4") + kRS + "raw" + kRS + marker))) return bodies;
  const std::string reply = std::string("5") + kRS + marker;
  for (;;) {
    const std::string body = read_body();
    if (body.empty() || body.compare(0, reply.size(), reply) == 0) return bodies;
    bodies.push_back(body);
  }
}

bool Raw::push(const std::string& key, const std::string& value, int number) const {
  return write_all(frame(std::string("1") + kRS + key + kRS + std::to_string(number) + kRS + value));
}

bool Raw::subscribe(const std::string& key, const std::string& client) const {
  return write_all(frame(std::string("2") + kRS + client + kRS + key));
}

DevInfod::DevInfod(const std::string& socket, const std::string& log, const std::string& err)
    : socket_(socket), log_(log), err_(err) {}

DevInfod::~DevInfod() {
  if (pid_ > 0) stop();
}

bool DevInfod::start() {
  pid_ = spawn(build_dir() + "/devinfod", {"serve", "--socket", socket_, "--log", log_}, -1, err_);
  if (pid_ <= 0) return false;
  return eventually([this] {
    const int fd = connect_to(socket_);
    if (fd < 0) return false;
    close(fd);
    return true;
  });
}

int DevInfod::stop() {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  const int status = wait_status_for(pid_, 10000);
  pid_ = -1;
  return status;
}

Result DevInfod::command(std::vector<std::string> args) const {
  args.insert(args.begin() + 1, {"--socket", socket_});
  return run(build_dir() + "/devinfod", args, err_);
}

bool DevInfod::logged(const std::string& line, int timeout_ms) const {
  return eventually([&] { return ("\n" + read_file(log_)).find("\n" + line + "\n") != std::string::npos; },
                    timeout_ms);
}

bool DevInfod::log_contains(const std::string& text, int timeout_ms) const {
  return eventually([&] { return read_file(log_).find(text) != std::string::npos; }, timeout_ms);
}

int DevInfod::count_lines(const std::string& prefix) const {
  std::istringstream lines(read_file(log_));
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) n += line.compare(0, prefix.size(), prefix) == 0;
  return n;
}

Sandbox::Sandbox() {
  for (const char* d : {"/var", "/var/run", "/etc", "/etc/config", "/etc/scripts", "/bin", "/tmp", "/proc",
                        "/var/spool", "/var/spool/sms", "/var/spool/sms/outgoing"}) {
    mkdir(path(d).c_str(), 0755);
  }
  infod_ = std::make_unique<DevInfod>(path("/var/run/infod-sock"), path("/infod.log"), path("/infod.err"));
}

Sandbox::~Sandbox() {
  if (daemon_ > 0 && daemon_status_ < 0) {
    kill(daemon_, SIGKILL);
    wait_status(daemon_);
  }
  infod_.reset();
}

void Sandbox::write_config(const ConfigBuilder& config) { write_file(path("/etc/config/config.xml"), config.xml()); }

std::vector<std::string> Sandbox::calls(const std::string& relative) const {
  std::vector<std::string> out;
  std::istringstream lines(read_file(path(relative) + ".calls"));
  std::string line;
  while (std::getline(lines, line)) out.push_back(line);
  return out;
}

void Sandbox::write_uptime(const std::string& text) { write_file(path("/proc/uptime"), text); }

bool Sandbox::start_infod() { return infod_->start(); }

bool Sandbox::start_daemon(const std::string& binary) {
  daemon_ = spawn(binary.empty() ? build_dir() + "/autoresponsed-dev" : binary, {}, -1, path("/daemon.log"),
                  {{"AR_ROOT", root()}, {"XMLDB_PATH", path("/etc/config/config.xml")}});
  daemon_status_ = -1;
  return daemon_ > 0;
}

int Sandbox::daemon_exit(int timeout_ms) {
  if (daemon_status_ >= 0) return daemon_status_;
  int status = 0;
  pid_t done = 0;
  eventually([&] { return (done = waitpid(daemon_, &status, WNOHANG)) != 0; }, timeout_ms);
  if (done != daemon_) return -1;
  daemon_status_ = decode(status);
  return daemon_status_;
}

void Sandbox::signal_daemon(int sig) { kill(daemon_, sig); }

bool Sandbox::daemon_running() const { return daemon_ > 0 && daemon_status_ < 0 && kill(daemon_, 0) == 0; }

bool Sandbox::daemon_logged(const std::string& text, int timeout_ms) const {
  return eventually([&] { return daemon_log().find(text) != std::string::npos; }, timeout_ms);
}

bool Sandbox::push(const std::string& key, const std::string& value) {
  Raw raw(infod_->socket());
  if (!raw.connected() || !raw.push(key, value)) return false;
  // A get on the same connection returns once the push is handled.
  raw.bodies_until_reply(key);
  return true;
}

}  // namespace e2e
