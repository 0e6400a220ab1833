// The development infod's server: accepts clients on a UNIX socket, keeps
// values and subscriptions, answers gets and fans pushes out as updates.
#include "devinfod/server.h"

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <event2/listener.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "base/loop.h"
#include "devinfod/protocol.h"
#include "devinfod/store.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace devinfod {

namespace {

// A connection whose unsent output grows past this has stopped reading;
// it is closed rather than allowed to eat the machine's memory.
constexpr size_t kMaxOutput = 16 * 1024 * 1024;

struct BaseFree {
  void operator()(event_base* b) const { event_base_free(b); }
};
struct EventFree {
  void operator()(event* e) const { event_free(e); }
};
struct ListenerFree {
  void operator()(evconnlistener* l) const { evconnlistener_free(l); }
};
struct BufferEventFree {
  void operator()(bufferevent* b) const { bufferevent_free(b); }
};
struct FileClose {
  void operator()(FILE* f) const {
    if (f != stdout) fclose(f);
  }
};

static_assert(sizeof(time_t) == 8, "update times after 2038 need a 64-bit time_t");

// The C library's clock, not std::chrono::system_clock: the distribution's
// 32-bit libstdc++ reads the time with a 32-bit time_t of its own.
uint64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec / 1000000);
}

class Server;

struct Connection {
  Server* server = nullptr;
  uint64_t id = 0;
  std::unique_ptr<bufferevent, BufferEventFree> bev;
  FrameReader frames;
  // The client has finished sending; close once its output is written.
  bool closing = false;
};

class Server {
 public:
  int run(const std::string& socket_path, const std::string& log_path);

 private:
  static void on_accept(evconnlistener* listener, evutil_socket_t fd, sockaddr* addr, int len, void* arg);
  static void on_accept_error(evconnlistener* listener, void* arg);
  static void on_resume(evutil_socket_t fd, short what, void* arg);
  static void on_signal(evutil_socket_t fd, short what, void* arg);
  static void on_read(bufferevent* bev, void* arg);
  static void on_write(bufferevent* bev, void* arg);
  static void on_event(bufferevent* bev, short what, void* arg);

  int open_socket(const std::string& path);
  void handle(Connection& conn, std::string_view body);
  void send(uint64_t id, const std::string& body);
  void close(uint64_t id);
  void log_line(const std::string& line);

  // Declared first so that it is released last.
  std::unique_ptr<event_base, BaseFree> base_;
  std::unique_ptr<evconnlistener, ListenerFree> listener_;
  std::unique_ptr<event, EventFree> resume_;
  std::unique_ptr<event, EventFree> sigint_;
  std::unique_ptr<event, EventFree> sigterm_;
  std::map<uint64_t, std::unique_ptr<Connection>> conns_;
  std::unique_ptr<FILE, FileClose> log_;
  ValueStore store_;
  Subscriptions subs_;
  uint64_t next_id_ = 1;
};

// Binds a listening socket at path, replacing a stale socket file but never
// a live server or a file of another kind. Returns the descriptor or -1.
int Server::open_socket(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    fprintf(stderr, "devinfod: socket path is empty or too long: %s\n", path.c_str());
    return -1;
  }
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);

  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    fprintf(stderr, "devinfod: socket: %s\n", strerror(errno));
    return -1;
  }
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      fprintf(stderr, "devinfod: %s exists and is not a socket\n", path.c_str());
      ::close(fd);
      return -1;
    }
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      fprintf(stderr, "devinfod: another server is listening on %s\n", path.c_str());
      ::close(fd);
      return -1;
    }
    unlink(path.c_str());
  }
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    fprintf(stderr, "devinfod: bind %s: %s\n", path.c_str(), strerror(errno));
    ::close(fd);
    return -1;
  }
  return fd;
}

int Server::run(const std::string& socket_path, const std::string& log_path) {
  signal(SIGPIPE, SIG_IGN);
  if (log_path == "-") {
    log_.reset(stdout);
  } else if (!log_path.empty()) {
    log_.reset(fopen(log_path.c_str(), "a"));
    if (!log_) {
      fprintf(stderr, "devinfod: cannot open log %s: %s\n", log_path.c_str(), strerror(errno));
      return 1;
    }
  }
  base_.reset(event_base_new());
  if (!base_) {
    fprintf(stderr, "devinfod: cannot create the event base\n");
    return 1;
  }
  int fd = open_socket(socket_path);
  if (fd < 0) return 1;
  struct stat bound {};
  stat(socket_path.c_str(), &bound);
  listener_.reset(evconnlistener_new(base_.get(), on_accept, this, LEV_OPT_CLOSE_ON_FREE | LEV_OPT_CLOSE_ON_EXEC,
                                     128, fd));
  if (!listener_) {
    fprintf(stderr, "devinfod: listen %s: %s\n", socket_path.c_str(), strerror(errno));
    ::close(fd);
    unlink(socket_path.c_str());
    return 1;
  }
  evconnlistener_set_error_cb(listener_.get(), on_accept_error);
  resume_.reset(evtimer_new(base_.get(), on_resume, this));
  sigint_.reset(evsignal_new(base_.get(), SIGINT, on_signal, this));
  sigterm_.reset(evsignal_new(base_.get(), SIGTERM, on_signal, this));
  if (!resume_ || !sigint_ || !sigterm_ || event_add(sigint_.get(), nullptr) != 0 ||
      event_add(sigterm_.get(), nullptr) != 0) {
    fprintf(stderr, "devinfod: cannot register events\n");
    unlink(socket_path.c_str());
    return 1;
  }

  event_base_dispatch(base_.get());

  conns_.clear();
  listener_.reset();
  // Remove the socket file only if it is still the one this server made.
  struct stat now {};
  if (stat(socket_path.c_str(), &now) == 0 && now.st_ino == bound.st_ino && now.st_dev == bound.st_dev) {
    unlink(socket_path.c_str());
  }
  return 0;
}

void Server::on_accept(evconnlistener*, evutil_socket_t fd, sockaddr*, int, void* arg) {
  auto* self = static_cast<Server*>(arg);
  auto conn = std::make_unique<Connection>();
  conn->server = self;
  conn->id = self->next_id_++;
  conn->bev.reset(bufferevent_socket_new(self->base_.get(), fd, BEV_OPT_CLOSE_ON_FREE));
  if (!conn->bev) {
    evutil_closesocket(fd);
    return;
  }
  bufferevent_setcb(conn->bev.get(), on_read, on_write, on_event, conn.get());
  bufferevent_enable(conn->bev.get(), EV_READ | EV_WRITE);
  self->conns_[conn->id] = std::move(conn);
}

// Out of descriptors or another accept failure: pause accepting for a
// moment instead of spinning on a listener that stays readable.
void Server::on_accept_error(evconnlistener* listener, void* arg) {
  auto* self = static_cast<Server*>(arg);
  fprintf(stderr, "devinfod: accept: %s\n", strerror(EVUTIL_SOCKET_ERROR()));
  evconnlistener_disable(listener);
  loop_add_timer(self->resume_.get(), 0, 100 * 1000);
}

void Server::on_resume(evutil_socket_t, short, void* arg) {
  auto* self = static_cast<Server*>(arg);
  evconnlistener_enable(self->listener_.get());
}

void Server::on_signal(evutil_socket_t, short, void* arg) {
  auto* self = static_cast<Server*>(arg);
  event_base_loopbreak(self->base_.get());
}

void Server::on_read(bufferevent* bev, void* arg) {
  auto* conn = static_cast<Connection*>(arg);
  Server* self = conn->server;
  uint64_t id = conn->id;
  evbuffer* in = bufferevent_get_input(bev);
  std::string bytes(evbuffer_get_length(in), '\0');
  if (!bytes.empty()) evbuffer_remove(in, &bytes[0], bytes.size());
  conn->frames.feed(bytes);
  std::string_view body;
  for (;;) {
    FrameReader::Status status = conn->frames.next(&body);
    if (status == FrameReader::Status::kNeedMore) return;
    if (status == FrameReader::Status::kOversize) {
      fprintf(stderr, "devinfod: connection %llu sent a frame over %zu bytes; closed\n",
              static_cast<unsigned long long>(id), size_t{kMaxInfodMessage});
      self->close(id);
      return;
    }
    self->handle(*conn, body);
    // A push may have closed this very connection (it was too slow).
    if (self->conns_.count(id) == 0) return;
  }
}

void Server::on_write(bufferevent*, void* arg) {
  auto* conn = static_cast<Connection*>(arg);
  if (conn->closing) conn->server->close(conn->id);
}

void Server::on_event(bufferevent* bev, short what, void* arg) {
  auto* conn = static_cast<Connection*>(arg);
  Server* self = conn->server;
  if ((what & BEV_EVENT_EOF) && !(what & BEV_EVENT_ERROR)) {
    // Frames already received have been handled; write what they produced
    // and then close, so that a client that shuts down its sending side
    // and waits for the close knows its frames took effect.
    self->subs_.drop(conn->id);
    if (evbuffer_get_length(bufferevent_get_output(bev)) == 0) {
      self->close(conn->id);
    } else {
      conn->closing = true;
      bufferevent_disable(bev, EV_READ);
    }
    return;
  }
  self->close(conn->id);
}

void Server::handle(Connection& conn, std::string_view body) {
  log_line(describe_request(body));
  Request req = parse_request(body);
  switch (req.kind) {
    case Request::Kind::kPush: {
      store_.set(req.key, req.value);
      std::string update = update_body(req.key, req.number, now_ms(), req.value);
      for (uint64_t id : subs_.subscribers(req.key)) send(id, update);
      break;
    }
    case Request::Kind::kSubscribe:
      if (!conn.closing) subs_.add(conn.id, req.key);
      break;
    case Request::Kind::kUnsubscribe:
      subs_.remove(conn.id, req.key);
      break;
    case Request::Kind::kGet:
      send(conn.id, reply_body(req.key, store_.get(req.key)));
      break;
    case Request::Kind::kUnknown:
    case Request::Kind::kMalformed:
      break;
  }
}

// Queues one frame on connection id; closes a connection that stopped
// reading.
void Server::send(uint64_t id, const std::string& body) {
  auto it = conns_.find(id);
  if (it == conns_.end()) return;
  evbuffer* out = bufferevent_get_output(it->second->bev.get());
  std::string frame = frame_of(body);
  if (evbuffer_get_length(out) + frame.size() > kMaxOutput || evbuffer_add(out, frame.data(), frame.size()) != 0) {
    fprintf(stderr, "devinfod: connection %llu is not reading; closed\n", static_cast<unsigned long long>(id));
    close(id);
  }
}

void Server::close(uint64_t id) {
  subs_.drop(id);
  conns_.erase(id);
}

void Server::log_line(const std::string& line) {
  if (!log_) return;
  fwrite(line.data(), 1, line.size(), log_.get());
  fputc('\n', log_.get());
  fflush(log_.get());
}

}  // namespace

int serve(const std::string& socket_path, const std::string& log_path) {
  Server server;
  return server.run(socket_path, log_path);
}

}  // namespace devinfod
