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
#include <string_view>

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

// What one descriptor has buffered: bytes not yet taken by the daemon's reader
// (from `taken` on) and, when a get gave up in the middle of a frame, how
// many trailing bytes of `data` belong to that unfinished frame, and how
// many more of it were dropped (one too long to keep).
struct Buffered {
  std::string data;
  size_t taken = 0;
  size_t open = 0;
  size_t open_dropped = 0;
};

// A frame being read: its bytes buffered (all of them, or the header and the
// first kInfodCutHead body bytes of one too long to keep) and how many of
// the rest were dropped.
struct FrameRead {
  std::string buffered;
  size_t dropped = 0;
};

std::map<int, Buffered>& buffered_table() {
  static std::map<int, Buffered> table;
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

// Whether a frame's header announces a body too long to keep whole.
bool too_long(const std::string& frame) { return frame.size() >= kHeaderLen && body_length(frame) > kInfodMaxBody; }

// Reads into frame until it is whole: a frame too long to keep is whole once
// all of it was read, its rest dropped. Returns 1 when complete, 0 on
// time-out, -1 on end of stream, a socket error or a header no infod could
// send. Never reads past the end of the frame: what follows belongs to the
// daemon's own reader.
int read_frame(int fd, FrameRead& frame, Clock::time_point deadline) {
  std::string& buffered = frame.buffered;
  std::string sink;  // what is read to be dropped
  for (;;) {
    size_t need;
    bool drop = false;
    if (buffered.size() < kHeaderLen) {
      need = kHeaderLen - buffered.size();
    } else if (const size_t length = body_length(buffered); length > kInfodMaxFrameBody) {
      return -1;
    } else if (length <= kInfodMaxBody) {
      const size_t total = kHeaderLen + length;
      if (buffered.size() >= total) return 1;
      need = total - buffered.size();
    } else if (buffered.size() < kHeaderLen + kInfodCutHead) {
      need = kHeaderLen + kInfodCutHead - buffered.size();
    } else {
      need = length - kInfodCutHead - frame.dropped;
      if (need == 0) return 1;
      drop = true;
    }
    if (need > kReadChunk) need = kReadChunk;
    std::string& into = drop ? sink : buffered;
    const size_t old = drop ? 0 : buffered.size();
    into.resize(old + need);
    ssize_t n = read(fd, &into[old], need);
    into.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n > 0) {
      if (drop) frame.dropped += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int ready = wait_ready(fd, POLLIN, deadline);
    if (ready != 1) return ready;
  }
}

// Whether the buffered part of a frame too long to keep shows the type 5 reply
// for key: its key ends within what is buffered.
bool cut_reply_for(const std::string& frame, const std::string& key) {
  const std::string_view body = std::string_view(frame).substr(kHeaderLen);
  const size_t end = 2 + key.size();
  return body.size() > end && body[0] == '5' && body[1] == kRs && body.substr(2, key.size()) == key &&
         (body[end] == kRs || body[end] == '\r' || body[end] == '\n');
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
  buffered_table()[fd].data += bytes;
}

}  // namespace

int infod_get_multiple(int fd, const char* key, char** value) {
  if (fd < 0 || key == nullptr || value == nullptr) return -1;
  std::string wanted = key;
  // Such a key could never be matched by a reply; fail now, not in 2 s.
  if (wanted.find_first_of(std::string{kRs, '\r', '\n'}) != std::string::npos) return -1;

  auto deadline = Clock::now() + std::chrono::milliseconds(kTimeoutMs);
  // A get that gave up in the middle of a frame left that frame's first
  // bytes in the buffered store, and the socket now continues it. Finish that
  // frame first so both readers stay on frame boundaries. `already` counts
  // the leading bytes of the frame's buffered part that are in the buffered store.
  FrameRead frame;
  size_t already = 0;
  auto& table = buffered_table();
  auto it = table.find(fd);
  if (it != table.end() && it->second.open > 0) {
    Buffered& k = it->second;
    frame.buffered = k.data.substr(k.data.size() - k.open);
    frame.dropped = k.open_dropped;
    already = k.open;
    k.open = 0;
    k.open_dropped = 0;
  }
  // Hands over what was read of an unfinished frame; the daemon's reader
  // continues it from the socket.
  const auto keep_open = [&] {
    keep(fd, frame.buffered.substr(already));
    if (!frame.buffered.empty()) {
      table[fd].open = frame.buffered.size();
      table[fd].open_dropped = frame.dropped;
    }
  };

  if (send_all(fd, make_frame(std::string("4") + kRs + "ard" + kRs + wanted), deadline) != 0) {
    // Nothing was read yet, so an unfinished frame stays as it was.
    keep_open();
    return -1;
  }

  for (;;) {
    int got = read_frame(fd, frame, deadline);
    if (got != 1) {
      keep_open();
      return -1;
    }
    std::string reply;
    bool has_value = false;
    // A frame too long to keep goes to the daemon's reader, which logs it;
    // when it was the reply, the get has no value to give.
    const bool cut = too_long(frame.buffered);
    const bool is_reply = !cut && parse_reply(frame.buffered.substr(kHeaderLen), wanted, reply, has_value);
    // A frame begun in the buffered store must end there too, reply or not.
    if (!is_reply || already > 0) keep(fd, frame.buffered.substr(already));
    if (cut && cut_reply_for(frame.buffered, wanted)) return -1;
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
    frame = FrameRead();
    already = 0;
  }
}

int infod_push_multiple_text(int fd, const char* key, int number, const char* value) {
  if (fd < 0 || key == nullptr || value == nullptr) return -1;
  std::string body = std::string("1") + kRs + key + kRs + std::to_string(number) + kRs + value;
  return send_all(fd, make_frame(body), Clock::now() + std::chrono::milliseconds(kTimeoutMs));
}

size_t infod_buffered_bytes(int fd) {
  auto& table = buffered_table();
  auto it = table.find(fd);
  return it == table.end() ? 0 : it->second.data.size() - it->second.taken;
}

size_t infod_buffered_read(int fd, void* buf, size_t len) {
  auto& table = buffered_table();
  auto it = table.find(fd);
  if (it == table.end() || buf == nullptr) return 0;
  Buffered& k = it->second;
  size_t n = std::min(len, k.data.size() - k.taken);
  std::memcpy(buf, k.data.data() + k.taken, n);
  k.taken += n;
  // Once drained, the daemon's reader owns any unfinished frame's rest.
  if (k.taken == k.data.size()) table.erase(it);
  return n;
}

size_t infod_buffered_dropping(int fd) {
  auto& table = buffered_table();
  auto it = table.find(fd);
  if (it == table.end() || it->second.open == 0) return 0;
  const Buffered& k = it->second;
  const std::string open = k.data.substr(k.data.size() - k.open);
  if (!too_long(open) || open.size() < kHeaderLen + kInfodCutHead) return 0;
  return body_length(open) - kInfodCutHead - k.open_dropped;
}

void infod_buffered_forget(int fd) { buffered_table().erase(fd); }
