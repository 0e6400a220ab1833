// The infod link: the outgoing queue and writer, the incoming reader.
//
// The reader works in turns of bounded length: each hands over the whole
// messages it holds, then what a synchronous get read on the way, and reads
// the socket only when nothing read earlier is left. What a turn leaves
// goes on at the loop's next pass, so a flood never holds up the signals,
// the tick or the reaping of children. The writer
// appends each message to one buffer; the messages of one callback go out in
// one write when it ends, only what the socket does not take waits for
// writability, and more than 8 MiB waiting ends the daemon.
#include "link/link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_map>
#include <event2/event.h>
#include <event2/event_compat.h>

#include "base/log.h"
#include "platform/infod_client.h"

namespace {

// What the reader takes from the socket in one read. A message longer than
// this gets a buffer of its own size while it is read.
constexpr size_t kReadBuffer = 64 * 1024;

// At most this many reads and this many messages per turn of the reader
// (those a synchronous get kept included): a flood of updates must not keep
// the loop from the signals and the tick. A handler that makes a
// synchronous call, which may wait seconds for infod, ends the turn too:
// while each trigger's get keeps the updates that came meanwhile, the turn
// would otherwise never end.
constexpr int kReadsPerWake = 16;
constexpr int kMessagesPerTurn = 1024;

// How long link_flush_head may wait for the socket.
constexpr std::chrono::milliseconds kFlushTimeout{2000};

// A body or outgoing buffer bigger than this is released once emptied
// instead of being kept for the next use.
constexpr size_t kKeptCapacity = 64 * 1024;

// While a callback handles a flood of updates, the answers of the ones
// already handled go out once this much has gathered, as they would have at
// the end of callbacks of their own; the buffer stays within its kept size.
constexpr size_t kWriteEarly = 32 * 1024;

// An infod that stops reading still sends updates, and the reader must go on
// taking them (an infod blocked writing to us would otherwise wait for ever),
// so their answers pile up unwritten. Past this much infod counts as gone, as
// after a failed write: the supervisor restarts the daemon on a fresh link
// before the queue grows into the system's last memory.
constexpr size_t kMaxUnwritten = 8 * 1024 * 1024;

// What infod sent and the daemon has not handled (kept by synchronous gets,
// held by the reader) grows when infod sends faster than the daemon, waiting
// on each get, can take it. Past this much infod counts as gone too.
constexpr size_t kMaxUnhandled = 8 * 1024 * 1024;

using SteadyClock = std::chrono::steady_clock;

// The platform's get cuts what it keeps as the reader does.
static_assert(kInfodMaxBody == kMaxInfodMessage && kInfodCutHead == kOversizeHead &&
              kInfodMaxFrameBody == kMaxInfodFrame);

bool would_block(ssize_t n) {
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

// Waits until the socket is ready for events or the deadline passes.
bool wait_ready(int fd, short events, SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd, events, 0};
  return poll(&p, 1, static_cast<int>(left)) >= 0 || errno == EINTR;
}

// Writer.

void add_write_event(InfodLink* link) {
  if (!link->write_event_added) {
    link->write_event.add();
    link->write_event_added = true;
  }
}

void del_write_event(InfodLink* link) {
  if (link->write_event_added) {
    link->write_event.del();
    link->write_event_added = false;
  }
}

// Moves the writer past n written bytes, and notes where a message was cut.
void written(InfodLink* link, size_t n) {
  size_t pos = link->out_start;
  const size_t end = pos + n;
  const size_t rest = std::min(n, link->head_rest);
  link->head_rest -= rest;
  pos += rest;
  while (pos < end) {
    const size_t whole = kFrameHeader + static_cast<size_t>(frame_length(link->out.data() + pos));
    if (pos + whole > end) link->head_rest = pos + whole - end;
    pos += whole;
  }
  link->out_start = end;
  size_t gone = 0;
  if (link->out_start == link->out.size()) {
    // Drained. The start-up traffic of many rules runs to megabytes; that
    // buffer goes back rather than stay with the process (the allocator
    // maps buffers of that size on their own: see run_daemon).
    gone = link->out.size();
    if (link->out.capacity() > kKeptCapacity) {
      std::string().swap(link->out);
    } else {
      link->out.clear();
    }
  } else if (link->out_start >= link->out.size() / 2) {
    // What is written goes, so a socket that takes little at a time costs
    // no more than a copy of the rest now and then.
    gone = link->out_start;
    link->out.erase(0, gone);
  }
  link->out_start -= gone;
  link->out_mark -= std::min(link->out_mark, gone);
}

// One write of everything queued. What the socket does not take waits for
// writability.
void write_queued(InfodLink* link) {
  const size_t pending = link->out.size() - link->out_start;
  if (pending == 0) {
    del_write_event(link);
    return;
  }
  const ssize_t n = send(link->fd, link->out.data() + link->out_start, pending, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n <= 0) {
    if (would_block(n)) {
      add_write_event(link);
      return;
    }
    ar_log(kLogFatal, "Error writing to infod");
    link_fatal(link, 1);
    return;
  }
  written(link, static_cast<size_t>(n));
  if (link->out_start == link->out.size()) {
    del_write_event(link);
  } else {
    add_write_event(link);
  }
}

// Writes at once what is queued, unless the writer waits for writability
// (what waits goes first) or there is no socket.
void write_now(InfodLink* link) {
  if (link->fd < 0 || link->write_event_added || link_stopped(link) || link->out_start == link->out.size()) return;
  write_queued(link);
}

// Formats one message onto the end of out: the header and the body, a
// push with key + suffix, number and value, the others with the client
// name and key + suffix.
void append_message(std::string* out, int type, const char* key, const char* suffix, int number,
                    const char* value) {
  const size_t start = frame_open(out);
  const std::string_view whole_key = key != nullptr ? key : "";
  if (type == kInfodPush) {
    append_push(out, whole_key, suffix, number, value != nullptr ? value : "");
  } else {
    append_request(out, static_cast<InfodMessageType>(type), kInfodClientName, whole_key, suffix);
  }
  frame_close(out, start);
}

// Says in the log which message was not sent for its length: its type, the
// beginning of its key (which may itself be what is too long) and its size.
void log_too_long(int type, const char* key, const char* suffix, size_t body) {
  static const char* const kNames[] = {"message", "push", "subscription", "unsubscription", "get"};
  const char* name = type >= kInfodPush && type <= kInfodGet ? kNames[type] : kNames[0];
  std::string shown = std::string(key != nullptr ? key : "") + suffix;
  constexpr size_t kShown = 80;
  if (shown.size() > kShown) shown = shown.substr(0, kShown) + "...";
  ar_log(kLogError, "Not sent to infod: a %s of %s, %zu bytes, over the %u bytes infod takes", name, shown.c_str(),
         body, kMaxInfodMessage);
}

// Queues one message, and writes it at once outside a callback; -1
// (logged) when memory runs out, and nothing is queued then, as for a
// message too long for infod (kPublishTooLong).
int queue_message(InfodLink* link, int type, const char* key, const char* suffix, int number, const char* value) {
  const size_t before = link->out.size();
  try {
    append_message(&link->out, type, key, suffix, number, value);
  } catch (const std::bad_alloc&) {
    link->out.resize(before);
    ar_log(kLogFatal, "Could not allocate message");
    return -1;
  }
  if (const size_t body = link->out.size() - before - kFrameHeader; body > kMaxInfodMessage) {
    link->out.resize(before);
    log_too_long(type, key, suffix, body);
    return kPublishTooLong;
  }
  // Only what waits for infod counts: the start-up traffic waits for the
  // loop, and a link without a socket keeps all it is given.
  if (link->write_event_added && link->fd >= 0 && link->out.size() - link->out_start > kMaxUnwritten) {
    if (!link_stopped(link)) {
      ar_log(kLogFatal, "Error writing to infod");
      link_fatal(link, 1);
    }
    return 0;
  }
  if (link->cork == 0) write_now(link);
  return 0;
}

// Reader.

// What a whole frame of a body of length takes in the reader's buffer: one
// too long to handle is held cut, its header and first kOversizeHead bytes.
size_t held_size(uint32_t length) {
  return kFrameHeader + (length > kMaxInfodMessage ? size_t{kOversizeHead} : size_t{length});
}

// Walks data[*scan, end) over whole frames: drops what *drop says is still
// to come of a frame being cut, and cuts each frame too long to handle
// (held_size), setting *drop to its rest; a frame that arrived cut already
// (a get kept it so) is only passed over. *scan stops at the first frame not
// whole, or at a header no infod could send, which the reader reports.
// Returns the new end.
size_t cut_frames(char* data, size_t* scan, size_t end, uint32_t* drop, bool arrived_cut) {
  size_t pos = *scan;
  for (;;) {
    if (*drop > 0) {
      const size_t n = std::min<size_t>(*drop, end - pos);
      memmove(data + pos, data + pos + n, end - pos - n);
      end -= n;
      *drop -= static_cast<uint32_t>(n);
      if (*drop > 0) break;
    }
    if (end - pos < kFrameHeader) break;
    const uint32_t length = frame_length(data + pos);
    if (length > kMaxInfodFrame || end - pos < held_size(length)) break;
    pos += held_size(length);
    if (length > kMaxInfodMessage && !arrived_cut) *drop = length - kOversizeHead;
  }
  *scan = pos;
  return end;
}

// Cuts what the socket added to the buffer.
void cut_received(InfodLink* link) {
  link->in_end = cut_frames(link->in.data(), &link->in_scan, link->in_end, &link->in_drop, false);
}

// Says which message was read past for its length: the beginning of its
// key, the field after its type, from the body's first kOversizeHead bytes.
void log_oversize(uint32_t length, const char* body) {
  constexpr size_t kShown = 64;
  std::string_view key(body, kOversizeHead);
  if (const size_t rs = key.find(kRS); rs != std::string_view::npos) key.remove_prefix(rs + 1);
  const size_t end = key.find_first_of(std::string_view("\x1e\r\n", 3));
  const bool whole = end != std::string_view::npos && end <= kShown;
  key = key.substr(0, std::min(end, kShown));
  ar_log(kLogFatal, "Message too long from infod: %u: key %.*s%s", length, static_cast<int>(key.size()), key.data(),
         whole ? "" : "...");
}

void release_body(InfodLink* link) {
  if (link->body.capacity() > kKeptCapacity) std::vector<char>().swap(link->body);
}

// Ends the daemon after a failed read or the end of the stream.
void read_failed(InfodLink* link, ssize_t n) {
  const int error = errno;
  if (link_reader_state(link) == ReaderState::kBody) {
    ar_log(kLogFatal, "Error reading message from infod");
  } else {
    ar_log(kLogFatal, "Error reading message from infod %s", n == 0 ? "end of stream" : strerror(error));
  }
  link_fatal(link, 1);
}

// Hands every whole message in the buffer to the handler, in order. The
// buffer moves past a message before its handler runs, so a synchronous
// call in the handler sees only what follows it.
void handle_whole(InfodLink* link) {
  while (!link_stopped(link) && link->turn_left > 0) {
    const size_t held = link->in_end - link->in_start;
    if (held < kFrameHeader) return;
    const char* message = link->in.data() + link->in_start;
    const uint32_t length = frame_length(message);
    if (length > kMaxInfodFrame) {
      ar_log(kLogFatal, "Message too long from infod: %u", length);
      link_fatal(link, 1);
      return;
    }
    if (held < held_size(length)) return;
    link->in_start += held_size(length);
    --link->turn_left;
    if (length > kMaxInfodMessage) {  // held cut, its rest dropped
      log_oversize(length, message + kFrameHeader);
      continue;
    }
    if (length == 0) continue;  // an empty message carries nothing
    if (link->out.size() - link->out_start >= kWriteEarly) {
      write_now(link);
      if (link_stopped(link)) return;
    }
    link->out_mark = link->out.size();
    // The handler gets its own copy: the buffer may move while it runs.
    link->body.resize(length + 1);
    memcpy(link->body.data(), message + kFrameHeader, length);
    link->body[length] = '\0';
    InfodMessage split;
    split_message(link->body.data(), &split);
    const int result = link->on_message(link->owner, split);
    release_body(link);
    if (result != 0) {
      ar_log(kLogFatal, "Error handling message");
      link_fatal(link, 1);
      return;
    }
  }
}

// Makes room after in_end for at least extra bytes: the unhandled bytes (at
// most one partial message) move to the front of a buffer of the usual size,
// or of the partial message's own size, or of what is to come, when that is
// larger.
void make_room(InfodLink* link, size_t extra) {
  const size_t held = link->in_end - link->in_start;
  size_t want = std::max(kReadBuffer, held + extra);
  if (held >= kFrameHeader) want = std::max(want, held_size(frame_length(link->in.data() + link->in_start)));
  if (link->in.size() != want) {
    std::vector<char> next(want);
    if (held > 0) memcpy(next.data(), link->in.data() + link->in_start, held);
    link->in.swap(next);
  } else if (link->in_start > 0 && held > 0) {
    memmove(link->in.data(), link->in.data() + link->in_start, held);
  }
  link->in_scan -= link->in_start;
  link->in_start = 0;
  link->in_end = held;
}

// Moves everything a synchronous get kept on the way into the buffer, after
// what is there: it came from the socket later. All of it at once: a message
// cut at the buffer's edge with its rest still kept would be completed from
// the socket by the next handler's get. This way the only partial message is
// the buffer's tail, and its rest is the socket's to give. False when
// nothing was kept.
bool take_buffered(InfodLink* link) {
  const size_t buffered = infod_buffered_bytes(link->fd);
  if (buffered == 0) return false;
  const size_t dropping = infod_buffered_dropping(link->fd);
  make_room(link, buffered);
  const size_t got = infod_buffered_read(link->fd, link->in.data() + link->in_end, link->in.size() - link->in_end);
  link->in_end += got;
  // The get cut what it kept, and what it did not read of a frame it was
  // cutting is the socket's, to be dropped.
  link->in_end = cut_frames(link->in.data(), &link->in_scan, link->in_end, &link->in_drop, true);
  link->in_drop = static_cast<uint32_t>(dropping);
  return got > 0;
}

void tell_turn(InfodLink* link, LinkTurn event) {
  if (link->on_turn != nullptr) link->on_turn(link->owner, event);
}

// Handles what the buffer holds, then what a synchronous get kept (read
// since the turn's last read, and told as one), while the turn lasts.
void handle_buffered(InfodLink* link) {
  handle_whole(link);
  while (!link_stopped(link) && link->turn_left > 0 && take_buffered(link)) {
    tell_turn(link, LinkTurn::kRead);
    handle_whole(link);
  }
}

// Whether the buffer holds a whole message (or a length the reader refuses).
bool whole_message_held(const InfodLink* link) {
  const size_t held = link->in_end - link->in_start;
  if (held < kFrameHeader) return false;
  const uint32_t length = frame_length(link->in.data() + link->in_start);
  return length > kMaxInfodFrame || held >= held_size(length);
}

// Ends the daemon when more than kMaxUnhandled waits to be handled; true
// then.
bool too_much_unhandled(InfodLink* link) {
  if (link->fd < 0 || link->in_end - link->in_start + infod_buffered_bytes(link->fd) <= kMaxUnhandled) return false;
  if (!link_stopped(link)) {
    ar_log(kLogFatal, "Error reading from infod: more than 8 MiB read and not handled");
    link_fatal(link, 1);
  }
  return true;
}

// Another turn at the loop's next pass for what is left read and not
// handled: the socket need not become readable again for it.
void continue_later(InfodLink* link) {
  if (whole_message_held(link) || infod_buffered_bytes(link->fd) > 0) link->more_event.add_after(0);
}

// One turn: what was read earlier and is left, then the socket, within the
// turn's bounds.
void read_ready(InfodLink* link) {
  // The turn's end is told however it ends, an exception included.
  struct TurnEnd {
    InfodLink* link;
    ~TurnEnd() { tell_turn(link, LinkTurn::kEnd); }
  } end{link};
  link->turn_left = kMessagesPerTurn;
  if (whole_message_held(link) || infod_buffered_bytes(link->fd) > 0) tell_turn(link, LinkTurn::kRead);
  handle_buffered(link);
  // The turn still lasting, nothing read earlier is left.
  for (int reads = 0; reads < kReadsPerWake && link->turn_left > 0 && !link_stopped(link); ++reads) {
    make_room(link, 0);
    const size_t room = link->in.size() - link->in_end;
    const ssize_t n = recv(link->fd, link->in.data() + link->in_end, room, MSG_DONTWAIT);
    if (n <= 0) {
      if (!would_block(n)) read_failed(link, n);
      break;
    }
    link->in_end += static_cast<size_t>(n);
    cut_received(link);
    tell_turn(link, LinkTurn::kRead);
    handle_buffered(link);
    // A read that did not fill the room took all the socket held.
    if (static_cast<size_t>(n) < room) break;
  }
  link->turn_left = 0;
  if (!link_stopped(link) && !too_much_unhandled(link)) continue_later(link);
}

// Writes the rest of a partly written message before the deadline.
int finish_partial_write(InfodLink* link, SteadyClock::time_point deadline) {
  while (link->head_rest > 0) {
    const ssize_t n =
        send(link->fd, link->out.data() + link->out_start, link->head_rest, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      written(link, static_cast<size_t>(n));
      continue;
    }
    if (!would_block(n) || (errno != EINTR && !wait_ready(link->fd, POLLOUT, deadline))) return -1;
  }
  return 0;
}

// Reads the rest of a message the buffer holds only the beginning of,
// before the deadline, and not a byte more: the buffer ends whole, and
// nothing is left to drop of a message it holds cut.
int finish_partial_read(InfodLink* link, SteadyClock::time_point deadline) {
  for (;;) {
    size_t need = link->in_drop;
    if (need == 0) {
      const size_t held = link->in_end - link->in_scan;
      if (held == 0) return 0;
      if (held < kFrameHeader) {
        need = kFrameHeader - held;
      } else {
        const uint32_t length = frame_length(link->in.data() + link->in_scan);
        // A bad length ends the daemon when the reader comes to it.
        if (length > kMaxInfodFrame) return -1;
        need = held_size(length) - held;
      }
    }
    need = std::min(need, kReadBuffer);
    if (link->in.size() - link->in_end < need) link->in.resize(link->in_end + need);
    const ssize_t n = recv(link->fd, link->in.data() + link->in_end, need, MSG_DONTWAIT);
    if (n > 0) {
      link->in_end += static_cast<size_t>(n);
      cut_received(link);
      continue;
    }
    if (!would_block(n) || (errno != EINTR && !wait_ready(link->fd, POLLIN, deadline))) return -1;
  }
}

}  // namespace

std::string link_format(int type, const char* key, int number, const char* value) {
  std::string text;
  append_message(&text, type, key, "", number, value);
  return text;
}

bool link_fits(int type, const std::string& key, const std::string& value) {
  const size_t body = link_format(type, key.c_str(), 0, value.c_str()).size() - kFrameHeader;
  if (body <= kMaxInfodMessage) return true;
  log_too_long(type, key.c_str(), "", body);
  return false;
}

void link_init(InfodLink* link, int fd, LinkMessageHandler on_message, void* owner) {
  link->fd = fd;
  link->on_message = on_message;
  link->owner = owner;
  link->out.clear();
  link->out_start = 0;
  link->head_rest = 0;
  link->out_mark = 0;
  link->in_start = 0;
  link->in_end = 0;
  link->in_scan = 0;
  link->in_drop = 0;
  // The start-up traffic waits for the loop: one cork more, which
  // link_start_writing takes away.
  ++link->cork;
  link->writing = false;
  link->read_event.set(fd, EV_READ | EV_PERSIST, link_on_readable, link);
  link->read_event.add();
  link->more_event.set(-1, 0, link_on_readable, link);
  link->write_event.set(fd, EV_WRITE | EV_PERSIST, link_on_writable, link);
  link->write_event_added = false;
}

void link_start_writing(InfodLink* link) {
  link->writing = true;
  if (link->cork > 0) --link->cork;
  if (link->out_start < link->out.size()) add_write_event(link);
}

int link_send(InfodLink* link, int type, const char* key, int number, const char* value) {
  if (type < kInfodPush || type > kInfodGet) {
    ar_log(kLogFatal, "Unknown message type");
    return -1;
  }
  return queue_message(link, type, key, "", number, value);
}

int link_subscribe(InfodLink* link, const char* key) { return link_send(link, kInfodSubscribe, key, 0, nullptr); }

int link_get(InfodLink* link, const char* key) { return link_send(link, kInfodGet, key, 0, nullptr); }

int link_unsubscribe(InfodLink* link, const char* key) {
  return link_send(link, kInfodUnsubscribe, key, 0, nullptr);
}

int link_push(InfodLink* link, const char* key, const char* value) {
  return link_send(link, kInfodPush, key, 0, value);
}

int link_push_status(InfodLink* link, const char* key, const char* value) {
  return queue_message(link, kInfodPush, key, ".status", 2, value);
}

void link_boundary(InfodLink* link) {
  if (!link->writing || link->fd < 0 || link_stopped(link)) return;
  link->out_mark = link->out.size();
  if (link->out.size() - link->out_start >= kWriteEarly) write_queued(link);
}

void link_cork(InfodLink* link) {
  if (link->cork++ == 0) link->out_mark = link->out.size();
}

void link_uncork(InfodLink* link) {
  if (link->cork > 0 && --link->cork > 0) return;
  write_now(link);
}

void link_on_writable(int /*fd*/, short /*events*/, void* arg) {
  auto* link = static_cast<InfodLink*>(arg);
  if (link_stopped(link)) return;
  write_queued(link);
}

void link_on_readable(int /*fd*/, short /*events*/, void* arg) {
  auto* link = static_cast<InfodLink*>(arg);
  run_guarded(link, [link] { read_ready(link); });
}

int link_flush_head(InfodLink* link) {
  const auto deadline = SteadyClock::now() + kFlushTimeout;
  link->turn_left = 0;
  // What the messages handled before this one queued would have gone out at
  // the end of their own callbacks: ahead of the call, as far as the socket
  // takes it now. The rest, and what this one queued, wait.
  if (!link->write_event_added && link->out_mark > link->out_start) {
    const ssize_t n = send(link->fd, link->out.data() + link->out_start, link->out_mark - link->out_start,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      written(link, static_cast<size_t>(n));
    } else if (!would_block(n)) {
      return -1;
    }
  }
  if (finish_partial_write(link, deadline) != 0) return -1;
  return finish_partial_read(link, deadline);
}

int link_after_get(InfodLink* link) {
  if (too_much_unhandled(link)) return -1;
  continue_later(link);
  return 0;
}

namespace {

// Appends bytes the reader is to handle after what it holds.
void keep_for_reader(InfodLink* link, const char* bytes, size_t n) {
  if (n == 0) return;
  if (link->in.size() - link->in_end < n) make_room(link, n);
  memcpy(link->in.data() + link->in_end, bytes, n);
  link->in_end += n;
}

}  // namespace

int link_get_all(InfodLink* link, const std::vector<std::string>& keys,
                 std::vector<std::optional<std::string>>* values, std::chrono::milliseconds wait) {
  values->assign(keys.size(), std::nullopt);
  std::unordered_map<std::string_view, size_t> waiting;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (waiting.emplace(keys[i], i).second) append_message(&link->out, kInfodGet, keys[i].c_str(), "", 0, nullptr);
  }
  std::string raw;  // read, and not yet split into whole messages
  size_t scan = 0;  // raw's cut (cut_frames) as the reader's
  uint32_t drop = 0;
  std::vector<char> chunk(kReadBuffer);
  auto deadline = SteadyClock::now() + wait;
  while (!waiting.empty() || link->out_start < link->out.size()) {
    const bool writing = link->out_start < link->out.size();
    pollfd p{link->fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) break;
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    if ((p.revents & POLLOUT) != 0) {
      const ssize_t n = send(link->fd, link->out.data() + link->out_start, link->out.size() - link->out_start,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        written(link, static_cast<size_t>(n));
      } else if (!would_block(n)) {
        ar_log(kLogFatal, "Error writing to infod");
        link_fatal(link, 1);
        return -1;
      }
    }
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t n = recv(link->fd, chunk.data(), chunk.size(), MSG_DONTWAIT);
    if (n == 0 || (n < 0 && !would_block(n))) {
      // infod gone: as the reader would find it.
      keep_for_reader(link, raw.data(), raw.size());
      link->in_drop = drop;
      read_failed(link, n);
      return -1;
    }
    if (n < 0) continue;
    raw.append(chunk.data(), static_cast<size_t>(n));
    raw.resize(cut_frames(raw.data(), &scan, raw.size(), &drop, false));
    // Whole messages, cut where too long; a length the reader refuses is
    // the reader's to report.
    size_t at = 0;
    while (at < scan) {
      const uint32_t length = frame_length(raw.data() + at);
      const size_t size = held_size(length);
      const std::string_view body(raw.data() + at + kFrameHeader, size - kFrameHeader);
      std::string_view key;
      std::optional<std::string_view> value;
      const bool cut = length > kMaxInfodMessage;
      const bool reply = split_reply(body, &key, &value);
      // A reply too long to take is the reader's to log, as any message that
      // is no reply; it ends its key's wait all the same, without a value,
      // when its key ends within what is held of it.
      if (cut || !reply) keep_for_reader(link, raw.data() + at, size);
      if (reply && (!cut || 2 + key.size() < body.size())) {
        if (const auto it = waiting.find(key); it != waiting.end()) {
          if (value && !cut) (*values)[it->second] = std::string(*value);
          waiting.erase(it);
          // Each reply gives the rest as long again: only silence ends it.
          deadline = SteadyClock::now() + wait;
        }
      }
      at += size;
    }
    raw.erase(0, at);
    scan -= at;
    link->in_scan = link->in_end;
  }
  // A message begun stays the reader's to finish, and what is to come of
  // one cut the reader's to drop; whole ones it handles at the loop's first
  // turn, though the socket may have nothing more.
  keep_for_reader(link, raw.data(), raw.size());
  link->in_drop = drop;
  continue_later(link);
  return 0;
}

ReaderState link_reader_state(const InfodLink* link) {
  if (link->in_drop > 0) return ReaderState::kBody;
  const size_t held = link->in_end - link->in_start;
  if (held == 0) return ReaderState::kIdle;
  return held < kFrameHeader ? ReaderState::kHeader : ReaderState::kBody;
}

std::vector<std::string> link_queued(const InfodLink* link) {
  std::vector<std::string> messages;
  size_t pos = link->out_start;
  if (link->head_rest > 0) messages.push_back(link->out.substr(pos, link->head_rest));
  pos += link->head_rest;
  while (pos < link->out.size()) {
    const size_t whole = kFrameHeader + static_cast<size_t>(frame_length(link->out.data() + pos));
    messages.push_back(link->out.substr(pos, whole));
    pos += whole;
  }
  return messages;
}

void link_drop_queued(InfodLink* link) {
  link->out.clear();
  link->out_start = 0;
  link->head_rest = 0;
  link->out_mark = 0;
}

bool link_stopped(const InfodLink* link) { return link->exit_status != nullptr && *link->exit_status >= 0; }

void link_fatal(InfodLink* link, int status) {
  if (link->exit_status != nullptr && *link->exit_status < 0) *link->exit_status = status;
  event_loopbreak();
}
