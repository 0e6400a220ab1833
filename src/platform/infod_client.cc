// The appliance library's synchronous infod client calls and the per-socket
// store of frames that a get read past on its way to the reply.
#include "platform/infod_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

// These calls stand for the appliance's own library, which frames for
// itself: they keep their own small framing rather than the daemon's wire
// module (wire/), which sits above this floor.
constexpr char kRs = '\x1e';
constexpr int kTimeoutMs = 2000;
constexpr size_t kHeaderLen = 4;
// Bytes read per call while a body is assembled. The body grows with what
// actually arrives, so a bogus length header cannot make us allocate it.
constexpr size_t kReadChunk = 64 * 1024;

// What one descriptor has kept: bytes not yet taken by the daemon's reader
// (from `taken` on) and, when a get gave up in the middle of a frame, how
// many trailing bytes of `data` belong to that unfinished frame.
struct Kept {
  std::string data;
  size_t taken = 0;
  size_t open = 0;
};

std::map<int, Kept>& kept_table() {
  static std::map<int, Kept> table;
  return table;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative.
int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is ready for events or the deadline passes. Returns 1 when
// ready, 0 on time-out, -1 on a poll error.
int wait_ready(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int n = poll(&p, 1, remaining_ms(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return 0;
    // Error and hang-up count as ready: the next read or send reports them.
    return 1;
  }
}

// Builds one frame: 4-byte big-endian body length, then the body.
std::string make_frame(const std::string& body) {
  auto len = static_cast<uint32_t>(body.size());
  std::string frame;
  frame.reserve(kHeaderLen + body.size());
  frame.push_back(static_cast<char>((len >> 24) & 0xff));
  frame.push_back(static_cast<char>((len >> 16) & 0xff));
  frame.push_back(static_cast<char>((len >> 8) & 0xff));
  frame.push_back(static_cast<char>(len & 0xff));
  frame += body;
  return frame;
}

// Sends all of frame before the deadline without raising SIGPIPE. 0 or -1.
int send_all(int fd, const std::string& frame, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < frame.size()) {
    ssize_t n = send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait_ready(fd, POLLOUT, deadline) != 1) return -1;
      continue;
    }
    return -1;
  }
  return 0;
}

// Body length announced by a complete header at the start of frame.
size_t body_length(const std::string& frame) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(frame[i])); };
  return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

// Reads into frame until it holds one whole frame. Returns 1 when complete,
// 0 on time-out, -1 on end of stream or a socket error. Never reads past the
// end of the frame: what follows belongs to the daemon's own reader.
int read_frame(int fd, std::string& frame, Clock::time_point deadline) {
  for (;;) {
    size_t need;
    if (frame.size() < kHeaderLen) {
      need = kHeaderLen - frame.size();
    } else {
      size_t total = kHeaderLen + body_length(frame);
      if (frame.size() >= total) return 1;
      need = total - frame.size();
    }
    if (need > kReadChunk) need = kReadChunk;
    size_t old = frame.size();
    frame.resize(old + need);
    ssize_t n = read(fd, &frame[old], need);
    frame.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n > 0) continue;
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int ready = wait_ready(fd, POLLIN, deadline);
    if (ready != 1) return ready;
  }
}

// True when body is the type 5 reply for key; then value holds the value
// (cut at CR or LF) and has_value tells whether the reply carried one.
bool parse_reply(const std::string& body, const std::string& key, std::string& value, bool& has_value) {
  if (body.size() < 2 || body[0] != '5' || body[1] != kRs) return false;
  size_t key_end = body.find_first_of(std::string{kRs, '\r', '\n'}, 2);
  if (key_end == std::string::npos) key_end = body.size();
  if (body.compare(2, key_end - 2, key) != 0) return false;
  has_value = key_end < body.size() && body[key_end] == kRs;
  value.clear();
  if (has_value) {
    size_t start = key_end + 1;
    size_t end = body.find_first_of("\r\n", start);
    value = body.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  return true;
}

// Appends bytes to what fd keeps for the daemon's reader.
void keep(int fd, const std::string& bytes) {
  if (bytes.empty()) return;
  kept_table()[fd].data += bytes;
}

}  // namespace

int infod_get_multiple(int fd, const char* key, char** value) {
  if (fd < 0 || key == nullptr || value == nullptr) return -1;
  std::string wanted = key;
  // Such a key could never be matched by a reply; fail now, not in 2 s.
  if (wanted.find_first_of(std::string{kRs, '\r', '\n'}) != std::string::npos) return -1;

  auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
  // A get that gave up in the middle of a frame left that frame's first
  // bytes in the kept store, and the socket now continues it. Finish that
  // frame first so both readers stay on frame boundaries. `already` counts
  // the leading bytes of `frame` that are in the kept store.
  std::string frame;
  size_t already = 0;
  auto& table = kept_table();
  auto it = table.find(fd);
  if (it != table.end() && it->second.open > 0) {
    Kept& k = it->second;
    frame = k.data.substr(k.data.size() - k.open);
    already = k.open;
    k.open = 0;
  }

  if (send_all(fd, make_frame(std::string("4") + kRs + "ard" + kRs + wanted), deadline) != 0) {
    // Nothing was read yet, so an unfinished frame stays as it was.
    if (already > 0) table[fd].open = already;
    return -1;
  }

  for (;;) {
    int got = read_frame(fd, frame, deadline);
    if (got != 1) {
      // Hand over what was read of the unfinished frame; the daemon's reader
      // continues it from the socket.
      keep(fd, frame.substr(already));
      if (!frame.empty()) table[fd].open = frame.size();
      return -1;
    }
    std::string reply;
    bool has_value = false;
    bool is_reply = parse_reply(frame.substr(kHeaderLen), wanted, reply, has_value);
    // A frame begun in the kept store must end there too, reply or not.
    if (!is_reply || already > 0) keep(fd, frame.substr(already));
    if (is_reply) {
      if (!has_value) {
        *value = nullptr;
        return 0;
      }
      char* copy = static_cast<char*>(std::malloc(reply.size() + 1));
      if (copy == nullptr) return -1;
      std::memcpy(copy, reply.c_str(), reply.size() + 1);
      *value = copy;
      return 0;
    }
    frame.clear();
    already = 0;
  }
}

int infod_push_multiple_text(int fd, const char* key, int number, const char* value) {
  if (fd < 0 || key == nullptr || value == nullptr) return -1;
  std::string body = std::string("1") + kRs + key + kRs + std::to_string(number) + kRs + value;
  return send_all(fd, make_frame(body), Clock::now() + std::chrono::milliseconds(kTimeoutMs));
}

size_t infod_kept_bytes(int fd) {
  auto& table = kept_table();
  auto it = table.find(fd);
  return it == table.end() ? 0 : it->second.data.size() - it->second.taken;
}

size_t infod_kept_read(int fd, void* buf, size_t len) {
  auto& table = kept_table();
  auto it = table.find(fd);
  if (it == table.end() || buf == nullptr) return 0;
  Kept& k = it->second;
  size_t n = std::min(len, k.data.size() - k.taken);
  std::memcpy(buf, k.data.data() + k.taken, n);
  k.taken += n;
  // Once drained, the daemon's reader owns any unfinished frame's rest.
  if (k.taken == k.data.size()) table.erase(it);
  return n;
}

void infod_kept_forget(int fd) { kept_table().erase(fd); }
