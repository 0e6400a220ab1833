// arctl's infod connection.
#include "arctl/infod.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>

#include "platform/infod_client.h"
#include "wire/frame.h"
#include "wire/message.h"

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

// A get's reply, "5" RS key [RS value]: its key, and its value unless it
// has none, all the rest of the body; false for any other message.
bool reply_of(std::string_view body, std::string_view* key, std::optional<std::string>* value) {
  const std::vector<std::string_view> fields = split_fields(body, 3);
  if (fields.size() < 2 || fields[0] != "5") return false;
  *key = fields[1];
  value->reset();
  if (fields.size() == 3) *value = std::string(fields[2]);
  return true;
}

// How long infod may stay silent while replies are owed, as for one get.
constexpr int64_t kGetWaitMs = 2000;

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
  // The platform's call reads the socket from where it is: what get_many
  // holds must be read first.
  if (!held_.empty()) {
    std::vector<std::optional<std::string>> values;
    if (!get_many({key}, &values)) return false;
    *value = std::move(values[0]);
    return true;
  }
  char* text = nullptr;
  if (infod_get_multiple(fd_, key.c_str(), &text) != 0) return false;
  if (text == nullptr) {
    value->reset();
    return true;
  }
  std::string got(text);
  free(text);
  *value = std::move(got);
  return true;
}

bool InfodConnection::get_many(const std::vector<std::string>& keys, std::vector<std::optional<std::string>>* values) {
  values->assign(keys.size(), std::nullopt);
  // Each key is asked once; a reply answers every place that asked it.
  std::unordered_map<std::string_view, std::vector<size_t>> waiting;
  std::string out;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].find_first_of(std::string{kRS, '\r', '\n'}) != std::string::npos) return false;  // no reply matches it
    std::vector<size_t>& places = waiting[keys[i]];
    if (places.empty()) out += frame_of(request_body(kInfodGet, kArctlClient, keys[i]));
    places.push_back(i);
  }
  // What was read before comes first: what this connection holds, then
  // what the platform's get kept.
  std::string raw = std::move(held_);
  held_.clear();
  std::string chunk(64 * 1024, '\0');
  while (const size_t n = infod_kept_read(fd_, chunk.data(), chunk.size())) raw.append(chunk.data(), n);
  size_t sent = 0, at = 0;
  int64_t deadline = now_ms() + kGetWaitMs;
  bool failed = false;
  while (!waiting.empty()) {
    // Whole frames first: the bytes held may answer already.
    while (raw.size() - at >= kFrameHeader) {
      const uint32_t length = frame_length(raw.data() + at);
      if (length > kMaxInfodMessage) return false;  // no infod message: given up
      if (raw.size() - at - kFrameHeader < length) break;
      std::string_view key;
      std::optional<std::string> value;
      const auto it = reply_of(std::string_view(raw.data() + at + kFrameHeader, length), &key, &value)
                          ? waiting.find(key)
                          : waiting.end();
      if (it != waiting.end()) {
        for (const size_t place : it->second) (*values)[place] = value;
        waiting.erase(it);
        deadline = now_ms() + kGetWaitMs;
      } else {
        held_.append(raw, at, kFrameHeader + length);
      }
      at += kFrameHeader + length;
    }
    raw.erase(0, at);
    at = 0;
    if (waiting.empty()) break;
    const int64_t left = deadline - now_ms();
    pollfd p{fd_, static_cast<short>(POLLIN | (sent < out.size() ? POLLOUT : 0)), 0};
    const int ready = left > 0 ? poll(&p, 1, static_cast<int>(left)) : 0;
    if (ready == 0 || (ready < 0 && errno != EINTR)) {
      failed = true;
      break;
    }
    if (ready < 0) continue;
    if ((p.revents & POLLOUT) != 0) {
      const ssize_t n = send(fd_, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<size_t>(n);
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        failed = true;
        break;
      }
    }
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = recv(fd_, chunk.data(), chunk.size(), 0);
    if (n > 0) {
      raw.append(chunk.data(), static_cast<size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
      failed = true;
      break;
    }
  }
  // Updates and the start of a frame not yet whole stay for next_update.
  held_ += raw;
  return !failed;
}

bool InfodConnection::push(const std::string& key, int number, const std::string& value) {
  return infod_push_multiple_text(fd_, key.c_str(), number, value.c_str()) == 0;
}

bool InfodConnection::subscribe(const std::string& key) {
  const std::string frame = frame_of(request_body(kInfodSubscribe, kArctlClient, key));
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
  // What a get read on the way comes first.
  size_t got = std::min(len, held_.size());
  held_.copy(buf, got);
  held_.erase(0, got);
  got += infod_kept_read(fd_, buf + got, len - got);
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
  char header[kFrameHeader];
  if (!read_bytes(header, sizeof header)) return false;
  const uint32_t length = frame_length(header);
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
    InfodMessage message;
    if (split_message(body.data(), &message) < 2 || message.type != kInfodUpdate) continue;
    update->key = message.key;
    update->time_ms = message.time_ms;
    update->value = message.value != nullptr ? message.value : "";
    got = true;
  }
  deadline_ms_ = -1;
  return got;
}

bool InfodConnection::readable() const {
  if (!held_.empty() || infod_kept_bytes(fd_) > 0) return true;
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0;
}
