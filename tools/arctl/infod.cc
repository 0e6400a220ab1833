// arctl's infod connection.
#include "arctl/infod.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "link/link.h"
#include "platform/infod_client.h"

namespace {

int64_t now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// Waits until fd is ready for events, or until deadline_ms (-1: none);
// false on an error of poll or when time ran out.
bool wait_for(int fd, short events, int64_t deadline_ms = -1) {
  for (;;) {
    const int64_t left = deadline_ms < 0 ? -1 : deadline_ms - now_ms();
    if (deadline_ms >= 0 && left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, left < 0 ? -1 : static_cast<int>(left));
    if (n > 0) return true;
    if (n == 0 || (n < 0 && errno != EINTR)) return false;
  }
}

}  // namespace

InfodConnection::~InfodConnection() {
  if (fd_ < 0) return;
  infod_kept_forget(fd_);
  close(fd_);
}

bool InfodConnection::open(const std::string& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "the socket path " + path + " is empty or too long";
    return false;
  }
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    *error = "cannot reach infod at " + path + " (" + strerror(errno) + "); is infod running?";
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return false;
  }
  // The platform's calls wait with their own time-outs on a non-blocking
  // socket; on a blocking one a silent infod would hold a get for ever.
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  return true;
}

bool InfodConnection::get(const std::string& key, std::optional<std::string>* value) {
  char* text = nullptr;
  if (infod_get_multiple(fd_, key.c_str(), &text) != 0) return false;
  value->reset();
  if (text != nullptr) {
    *value = text;
    free(text);
  }
  return true;
}

bool InfodConnection::push(const std::string& key, int number, const std::string& value) {
  return infod_push_multiple_text(fd_, key.c_str(), number, value.c_str()) == 0;
}

bool InfodConnection::subscribe(const std::string& key) {
  const std::string body = std::string("2") + kRS + kArctlClient + kRS + key;
  const auto length = static_cast<uint32_t>(body.size());
  std::string frame = {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                       static_cast<char>(length >> 8), static_cast<char>(length)};
  frame += body;
  for (size_t sent = 0; sent < frame.size();) {
    const ssize_t n = send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!wait_for(fd_, POLLOUT)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool InfodConnection::read_bytes(char* buf, size_t len) {
  size_t got = infod_kept_read(fd_, buf, len);  // what a get read on the way comes first
  while (got < len) {
    const ssize_t n = recv(fd_, buf + got, len - got, 0);
    if (n > 0) {
      got += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!wait_for(fd_, POLLIN, deadline_ms_)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool InfodConnection::read_body(std::string* body) {
  unsigned char header[4];
  if (!read_bytes(reinterpret_cast<char*>(header), sizeof header)) return false;
  const uint32_t length = (uint32_t{header[0]} << 24) | (uint32_t{header[1]} << 16) | (uint32_t{header[2]} << 8) |
                          uint32_t{header[3]};
  if (length > kMaxInfodMessage) return false;  // no infod message: given up
  body->assign(length, '\0');
  return read_bytes(body->data(), length);
}

bool InfodConnection::next_update(InfodUpdate* update, int timeout_ms) {
  deadline_ms_ = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;
  std::string body;
  bool got = false;
  while (!got && read_body(&body)) {
    // Split as the daemon splits what infod sends it.
    UpdateFields fields;
    if (link_split_fields(body.data(), &fields) < 2 || fields.type != kInfodUpdate) continue;
    update->key = fields.key;
    update->time_ms = fields.time_ms;
    update->value = fields.value != nullptr ? fields.value : "";
    got = true;
  }
  deadline_ms_ = -1;
  return got;
}

bool InfodConnection::readable() const {
  if (infod_kept_bytes(fd_) > 0) return true;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}
