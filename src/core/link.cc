// The infod link: framing, the outgoing queue and writer, the incoming
// reader.
#include "core/link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <event2/event.h>
#include <event2/event_compat.h>

#include "core/guard.h"
#include "core/log.h"
#include "platform/infod_client.h"

namespace {

// At most this many queued messages go out in one write.
constexpr int kWriteBatch = 64;

// How long a synchronous flush of a partly written message may wait.
constexpr int kFlushTimeoutMs = 2000;

// A body buffer bigger than this is released after its message instead of
// being kept for the next one.
constexpr size_t kKeptBodyCapacity = 64 * 1024;

// strtok-style: skips leading delimiters, cuts the token at the next one.
char* next_token(char** pos, const char* delimiters) {
  char* p = *pos + strspn(*pos, delimiters);
  if (*p == '\0') {
    *pos = p;
    return nullptr;
  }
  char* start = p;
  p += strcspn(p, delimiters);
  if (*p != '\0') *p++ = '\0';
  *pos = p;
  return start;
}

int32_t to_int32(const char* text) {
  const long v = strtol(text, nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void add_write_event(InfodLink* link) {
  if (!link->write_event_added) {
    link->write_event.add();
    link->write_event_added = true;
  }
}

// Reads what infod_get_multiple kept first, then the socket.
ssize_t link_read(InfodLink* link, void* buf, size_t len) {
  const size_t kept = infod_kept_read(link->fd, buf, len);
  if (kept > 0) return static_cast<ssize_t>(kept);
  return recv(link->fd, buf, len, 0);
}

bool would_block(ssize_t n) {
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

void release_body(InfodLink* link) {
  if (link->body.capacity() > kKeptBodyCapacity) {
    std::vector<char>().swap(link->body);
  } else {
    link->body.clear();
  }
  link->read_state = ReaderState::kIdle;
}

// One step of the reader: one read, never past the current message.
void read_step(InfodLink* link) {
  if (link->read_state == ReaderState::kIdle) {
    link->header_read = 0;
    link->body_len = 0;
    link->body_read = 0;
    link->read_state = ReaderState::kHeader;
  }
  if (link->read_state == ReaderState::kHeader) {
    const ssize_t n = link_read(link, link->header + link->header_read, 4 - link->header_read);
    if (n <= 0) {
      if (would_block(n)) return;
      ar_log(kLogFatal, "Error reading message from infod %s", n == 0 ? "end of stream" : strerror(errno));
      link_fatal(link, 1);
      return;
    }
    link->header_read += static_cast<int>(n);
    if (link->header_read < 4) return;
    uint32_t length;
    memcpy(&length, link->header, 4);
    link->body_len = ntohl(length);
    if (link->body_len > kMaxInfodMessage) {
      ar_log(kLogFatal, "Message too long from infod: %u", link->body_len);
      link_fatal(link, 1);
      return;
    }
    if (link->body_len == 0) {  // an empty message carries nothing
      link->read_state = ReaderState::kIdle;
      return;
    }
    link->body.assign(link->body_len + 1, '\0');
    link->read_state = ReaderState::kBody;
    return;
  }
  const ssize_t n = link_read(link, link->body.data() + link->body_read, link->body_len - link->body_read);
  if (n <= 0) {
    if (would_block(n)) return;
    ar_log(kLogFatal, "Error reading message from infod");
    link_fatal(link, 1);
    return;
  }
  link->body_read += static_cast<uint32_t>(n);
  if (link->body_read < link->body_len) return;
  const int result = link->on_message(link->owner, link->body.data());
  release_body(link);
  if (result != 0) {
    ar_log(kLogFatal, "Error handling message");
    link_fatal(link, 1);
  }
}

}  // namespace

int link_split_fields(char* body, UpdateFields* fields) {
  static const char kFieldEnds[] = {kRS, '\r', '\n', '\0'};
  *fields = UpdateFields{};
  char* pos = body;
  char* token = next_token(&pos, kFieldEnds);
  if (token == nullptr) return 0;
  fields->type = strtol(token, nullptr, 10);
  fields->count = 1;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return fields->count;
  fields->key = token;
  fields->count = 2;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return fields->count;
  fields->number = to_int32(token);
  fields->count = 3;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return fields->count;
  fields->time_ms = strtoull(token, nullptr, 10);
  fields->count = 4;
  if ((token = next_token(&pos, "\r\n")) == nullptr) return fields->count;
  fields->value = token;
  fields->count = 5;
  return fields->count;
}

std::string link_format(int type, const char* key, int number, const char* value) {
  const char* k = key != nullptr ? key : "";
  std::string text(4, '\0');
  text += std::to_string(type);
  text += kRS;
  if (type == kInfodPush) {
    text += k;
    text += kRS;
    text += std::to_string(number);
    text += kRS;
    text += value != nullptr ? value : "";
  } else {
    text += kInfodClientName;
    text += kRS;
    text += k;
  }
  const uint32_t length = htonl(static_cast<uint32_t>(text.size() - 4));
  memcpy(text.data(), &length, 4);
  return text;
}

void link_init(InfodLink* link, int fd, LinkMessageHandler on_message, void* owner) {
  link->fd = fd;
  link->on_message = on_message;
  link->owner = owner;
  link->out_queue.clear();
  link->write_offset = 0;
  link->read_state = ReaderState::kIdle;
  link->read_event.set(fd, EV_READ | EV_PERSIST, link_on_readable, link);
  link->read_event.add();
  link->write_event.set(fd, EV_WRITE | EV_PERSIST, link_on_writable, link);
  link->write_event_added = false;
}

int link_send(InfodLink* link, int type, const char* key, int number, const char* value) {
  if (type < kInfodPush || type > kInfodUnsubscribe) {
    ar_log(kLogFatal, "Unknown message type");
    return -1;
  }
  try {
    link->out_queue.push_back(InfodMessage{link_format(type, key, number, value)});
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocate message");
    return -1;
  }
  add_write_event(link);
  return 0;
}

int link_subscribe(InfodLink* link, const char* key) { return link_send(link, kInfodSubscribe, key, 0, nullptr); }

int link_unsubscribe(InfodLink* link, const char* key) {
  return link_send(link, kInfodUnsubscribe, key, 0, nullptr);
}

int link_push(InfodLink* link, const char* key, const char* value) {
  return link_send(link, kInfodPush, key, 0, value);
}

int link_push_status(InfodLink* link, const char* key, const char* value) {
  std::string status_key;
  try {
    status_key = std::string(key) + ".status";
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return link_send(link, kInfodPush, status_key.c_str(), 2, value);
}

void link_on_writable(int fd, short /*events*/, void* arg) {
  auto* link = static_cast<InfodLink*>(arg);
  if (link_stopped(link)) return;
  if (link->out_queue.empty()) {
    link->write_event.del();
    link->write_event_added = false;
    return;
  }
  // One system call for as many whole messages as fit in one batch; the
  // bytes go out exactly in queue order.
  iovec iov[kWriteBatch];
  int count = 0;
  size_t offset = link->write_offset;
  for (const InfodMessage& m : link->out_queue) {
    if (count == kWriteBatch) break;
    iov[count].iov_base = const_cast<char*>(m.text.data() + offset);
    iov[count].iov_len = m.text.size() - offset;
    offset = 0;
    ++count;
  }
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = static_cast<size_t>(count);
  ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n <= 0) {
    if (would_block(n)) return;
    ar_log(kLogFatal, "Error writing to infod");
    link_fatal(link, 1);
    return;
  }
  while (n > 0) {
    const size_t rest = link->out_queue.front().text.size() - link->write_offset;
    if (static_cast<size_t>(n) < rest) {
      link->write_offset += static_cast<size_t>(n);
      break;
    }
    n -= static_cast<ssize_t>(rest);
    link->out_queue.pop_front();
    link->write_offset = 0;
  }
}

void link_on_readable(int /*fd*/, short /*events*/, void* arg) {
  auto* link = static_cast<InfodLink*>(arg);
  run_guarded(link, [link] {
    // Messages that a synchronous get read on the way are handled here,
    // without waiting for the socket to become readable again.
    do {
      if (link_stopped(link)) return;
      read_step(link);
    } while (!link_stopped(link) && infod_kept_bytes(link->fd) > 0);
  });
}

int link_flush_head(InfodLink* link) {
  if (link->write_offset == 0 || link->out_queue.empty()) return 0;
  const std::string& text = link->out_queue.front().text;
  int waited = 0;
  while (link->write_offset < text.size()) {
    const ssize_t n = send(link->fd, text.data() + link->write_offset, text.size() - link->write_offset,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      link->write_offset += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waited < kFlushTimeoutMs) {
      pollfd p{link->fd, POLLOUT, 0};
      poll(&p, 1, 100);
      waited += 100;
      continue;
    }
    return -1;
  }
  link->out_queue.pop_front();
  link->write_offset = 0;
  return 0;
}

bool link_stopped(const InfodLink* link) { return link->exit_status != nullptr && *link->exit_status >= 0; }

void link_fatal(InfodLink* link, int status) {
  if (link->exit_status != nullptr && *link->exit_status < 0) *link->exit_status = status;
  event_loopbreak();
}
