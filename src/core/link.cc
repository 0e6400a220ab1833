// The infod link: outgoing queue and writer, incoming reader, message
// handling and routing.
#include "core/link.h"

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <event2/event.h>
#include <event2/event_compat.h>

#include "actions/queue.h"
#include "core/context.h"
#include "core/control.h"
#include "core/guard.h"
#include "core/log.h"
#include "engine/tick.h"
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

void add_write_event(DaemonContext* ctx) {
  if (!ctx->write_event_added) {
    ctx->write_event.add();
    ctx->write_event_added = true;
  }
}

// Reads what infod_get_multiple kept first, then the socket.
ssize_t link_read(DaemonContext* ctx, void* buf, size_t len) {
  const size_t kept = infod_kept_read(ctx->infod_fd, buf, len);
  if (kept > 0) return static_cast<ssize_t>(kept);
  return recv(ctx->infod_fd, buf, len, 0);
}

bool would_block(ssize_t n) {
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

void release_body(DaemonContext* ctx) {
  if (ctx->body.capacity() > kKeptBodyCapacity) {
    std::vector<char>().swap(ctx->body);
  } else {
    ctx->body.clear();
  }
  ctx->read_state = 0;
}

// One step of the reader: one read, never past the current message.
void read_step(DaemonContext* ctx) {
  if (ctx->read_state == 0) {
    ctx->header_read = 0;
    ctx->body_len = 0;
    ctx->body_read = 0;
    ctx->read_state = 1;
  }
  if (ctx->read_state == 1) {
    const ssize_t n = link_read(ctx, ctx->header + ctx->header_read, 4 - ctx->header_read);
    if (n <= 0) {
      if (would_block(n)) return;
      ar_log(kLogFatal, "Error reading message from infod %s", n == 0 ? "end of stream" : strerror(errno));
      link_fatal(ctx, 1);
      return;
    }
    ctx->header_read += static_cast<int>(n);
    if (ctx->header_read < 4) return;
    uint32_t length;
    memcpy(&length, ctx->header, 4);
    ctx->body_len = ntohl(length);
    if (ctx->body_len > kMaxInfodMessage) {
      ar_log(kLogFatal, "Message too long from infod: %u", ctx->body_len);
      link_fatal(ctx, 1);
      return;
    }
    if (ctx->body_len == 0) {  // an empty message carries nothing
      ctx->read_state = 0;
      return;
    }
    ctx->body.assign(ctx->body_len + 1, '\0');
    ctx->read_state = 2;
    return;
  }
  const ssize_t n = link_read(ctx, ctx->body.data() + ctx->body_read, ctx->body_len - ctx->body_read);
  if (n <= 0) {
    if (would_block(n)) return;
    ar_log(kLogFatal, "Error reading message from infod");
    link_fatal(ctx, 1);
    return;
  }
  ctx->body_read += static_cast<uint32_t>(n);
  if (ctx->body_read < ctx->body_len) return;
  const int result = link_handle_message(ctx);
  release_body(ctx);
  if (result != 0) {
    ar_log(kLogFatal, "Error handling message");
    link_fatal(ctx, 1);
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
  fields->field3 = to_int32(token);
  fields->count = 3;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return fields->count;
  fields->field4 = strtoull(token, nullptr, 10);
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
  if (type == 1) {
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

void link_init(DaemonContext* ctx, int fd) {
  ctx->infod_fd = fd;
  ctx->out_queue.clear();
  ctx->autoresponses.clear();
  ctx->checks.clear();
  ctx->action_queue.clear();
  ctx->control_key = kControlTable.key;
  ctx->write_offset = 0;
  ctx->read_state = 0;
  ctx->read_event.set(fd, EV_READ | EV_PERSIST, link_on_readable, ctx);
  ctx->read_event.add();
  ctx->write_event.set(fd, EV_WRITE | EV_PERSIST, link_on_writable, ctx);
  ctx->write_event_added = false;
  ctx->sigchld_event.set(SIGCHLD, EV_SIGNAL | EV_PERSIST, reap_action, ctx);
  ctx->sigchld_event.add();
  tick_start(ctx);
  ctx->boot_delay = 0;
  ctx->concurrent_actions = 2;
  link_subscribe(ctx, ctx->control_key);
}

int link_send(DaemonContext* ctx, int type, const char* key, int number, const char* value) {
  if (type < 1 || type > 3) {
    ar_log(kLogFatal, "Unknown message type");
    return -1;
  }
  try {
    ctx->out_queue.push_back(InfodMessage{link_format(type, key, number, value)});
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Could not allocate message");
    return -1;
  }
  add_write_event(ctx);
  return 0;
}

int link_subscribe(DaemonContext* ctx, const char* key) { return link_send(ctx, 2, key, 0, nullptr); }

int link_unsubscribe(DaemonContext* ctx, const char* key) { return link_send(ctx, 3, key, 0, nullptr); }

int link_push(DaemonContext* ctx, const char* key, const char* value) {
  return link_send(ctx, 1, key, 0, value);
}

int link_push_status(DaemonContext* ctx, const char* key, const char* value) {
  std::string status_key;
  try {
    status_key = std::string(key) + ".status";
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return link_send(ctx, 1, status_key.c_str(), 2, value);
}

void link_on_writable(int fd, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  if (ctx->exit_status >= 0) return;
  if (ctx->out_queue.empty()) {
    ctx->write_event.del();
    ctx->write_event_added = false;
    return;
  }
  // One system call for as many whole messages as fit in one batch; the
  // bytes go out exactly in queue order.
  iovec iov[kWriteBatch];
  int count = 0;
  size_t offset = ctx->write_offset;
  for (const InfodMessage& m : ctx->out_queue) {
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
    link_fatal(ctx, 1);
    return;
  }
  while (n > 0) {
    const size_t rest = ctx->out_queue.front().text.size() - ctx->write_offset;
    if (static_cast<size_t>(n) < rest) {
      ctx->write_offset += static_cast<size_t>(n);
      break;
    }
    n -= static_cast<ssize_t>(rest);
    ctx->out_queue.pop_front();
    ctx->write_offset = 0;
  }
}

void link_on_readable(int /*fd*/, short /*events*/, void* arg) {
  auto* ctx = static_cast<DaemonContext*>(arg);
  run_guarded(ctx, [ctx] {
    // Messages that a synchronous get read on the way are handled here,
    // without waiting for the socket to become readable again.
    do {
      if (ctx->exit_status >= 0) return;
      read_step(ctx);
    } while (ctx->exit_status < 0 && infod_kept_bytes(ctx->infod_fd) > 0);
  });
}

int link_handle_message(DaemonContext* ctx) {
  UpdateFields f;
  if (link_split_fields(ctx->body.data(), &f) == 0) return 0;
  if (f.type != 8) return 0;
  if (f.key == nullptr || f.value == nullptr) {
    ar_log(kLogError, "Invalid message from infod");
    return 0;
  }
  if (ctx->control_key != nullptr && strcmp(f.key, ctx->control_key) == 0) {
    return control_handle(ctx, f.value);
  }
  const std::vector<ArCheck*>& takers = route_lookup(ctx, f.key);
  if (takers.empty()) {
    // After a reload infod still delivers updates of keys just
    // unsubscribed; nothing wants them any more.
    ar_log(kLogDebug, "No subscription for update: %s", f.key);
    return 0;
  }
  for (ArCheck* check : takers) {
    const int result = check_append_event(check, f.key, f.field3, f.field4, f.value);
    if (result != 0) {
      ar_log(kLogFatal, "error appending entry to ar: %s", f.key);
      return result;
    }
  }
  return 0;
}

int link_flush_head(DaemonContext* ctx) {
  if (ctx->write_offset == 0 || ctx->out_queue.empty()) return 0;
  const std::string& text = ctx->out_queue.front().text;
  int waited = 0;
  while (ctx->write_offset < text.size()) {
    const ssize_t n = send(ctx->infod_fd, text.data() + ctx->write_offset, text.size() - ctx->write_offset,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      ctx->write_offset += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waited < kFlushTimeoutMs) {
      pollfd p{ctx->infod_fd, POLLOUT, 0};
      poll(&p, 1, 100);
      waited += 100;
      continue;
    }
    return -1;
  }
  ctx->out_queue.pop_front();
  ctx->write_offset = 0;
  return 0;
}

void link_fatal(DaemonContext* ctx, int status) {
  if (ctx->exit_status < 0) ctx->exit_status = status;
  event_loopbreak();
}
