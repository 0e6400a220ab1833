// fuzz-seconds: 45
// libFuzzer target: the link's reader and the synchronous get together. A stream of messages of chosen sizes
// reaches the reader in chosen chunks; a message that asks for it makes its handler do what the trigger
// counter does (prepare the link, then get a key), and the harness puts that key's reply a chosen number of
// messages further on in what it has not written yet, writing up to it first so the get never waits. Replies
// kept behind by one get may hold messages that get again. The reader runs in the event loop's passes, as in the
// daemon: a turn ends after a get or a bounded number of messages, and what it leaves comes at a later pass even
// when the socket has nothing new. Every message other than a reply must reach the handler exactly once, in the
// order sent, and every get must return its own reply. Each message is an update whose key names it. A few
// messages are over infod's limit: the reader reads past each, logging it once, and hands it to no handler; a
// handler then gets only when what it must write first fits in the socket.
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <event2/event.h>
#include <event2/event_compat.h>

#include "base/log.h"
#include "link/link.h"
#include "platform/infod_client.h"

namespace {

// Everything the fuzzer decides, in the order it asks for it: bytes from the front describe the
// messages, bytes from the back the chunks and where replies go.
struct Choices {
  const uint8_t* data;
  size_t front, back;
  bool front_left() const { return front < back; }
  uint8_t next() { return front < back ? data[front++] : 0; }
  uint8_t last(uint8_t otherwise) { return front < back ? data[--back] : otherwise; }
};

// The socket pair holds what is written and not yet read; the stream, but for the messages over the limit, stays
// well within it, and so does what a handler writes.
constexpr size_t kMaxStream = 160 * 1024;
constexpr size_t kHandlerRoom = 128 * 1024;
constexpr int kMaxOversized = 2;

struct Harness {
  explicit Harness(Choices c) : choices(c) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) abort();
    peer = fds[1];
    int size = 1 << 20;
    setsockopt(peer, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    link_init(
        &link, fds[0], [](void* owner, const InfodMessage& m) { return static_cast<Harness*>(owner)->handle(m); },
        this);
    link_start_writing(&link);
    link.exit_status = &exit_status;
    log_set_observer(
        [](int, const char* text, void* seen) {
          if (strncmp(text, "Message too long from infod: ", 29) == 0) ++*static_cast<int*>(seen);
        },
        &logged_oversized);
  }
  ~Harness() {
    log_set_observer(nullptr, nullptr);
    infod_buffered_forget(link.fd);
    close(link.fd);
    close(peer);
    link.read_event.reset();
    link.write_event.reset();
    link.more_event.reset();
    event_base_free(event_base_);
  }

  // Messages: an update of a chosen length, or one whose handler gets a key. Lengths reach past
  // the reader's buffer so that a get can keep more than the reader takes at once.
  void build() {
    size_t over_bytes = 0;
    while (choices.front_left() && stream.size() - over_bytes < kMaxStream) {
      const uint8_t kind = choices.next(), size = choices.next();
      const std::string id = std::to_string(sent.size() + static_cast<size_t>(oversized));
      const bool over = (kind & 0x81) == 0x80 && oversized < kMaxOversized;
      std::string key = (kind & 1) ? "g" + id : (over ? "o" : "u") + id + ".";
      const size_t length = over ? kMaxInfodMessage + size_t{size} * 37
                                 : size < 200 ? size : static_cast<size_t>(size - 199) * 2000;
      if (!(kind & 1) && length > key.size()) key.append(length - key.size(), 'x');
      const std::string frame = frame_of(join_fields({"8", key}));
      if (over) {
        ++oversized;
        over_bytes += frame.size();
      } else {
        sent.push_back(key);
      }
      stream += frame;
      bounds.push_back(stream.size());
    }
  }

  // Writes the stream up to end to the socket; outside a handler the reader's passes make room.
  void write_to(size_t end, bool in_handler = false) {
    while (written < end) {
      const ssize_t n = write(peer, stream.data() + written, end - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
      } else if (!in_handler && n < 0 && errno == EAGAIN) {
        pass();
      } else {
        abort();  // the socket pair is full in a handler: the harness's bound is wrong
      }
    }
  }

  int handle(const InfodMessage& m) {
    if (m.type != kInfodUpdate || m.key == nullptr) abort();
    handled.emplace_back(m.key);
    if (m.key[0] != 'g') return 0;
    // The reply goes after the message being written and a chosen number more, in what is not
    // written yet: the reader cannot have read ahead of it.
    const std::string key = "k" + std::string(m.key + 1);
    auto at = std::lower_bound(bounds.begin(), bounds.end(), written);
    at += std::min<ptrdiff_t>(bounds.end() - 1 - at, choices.last(0) % 24);
    const size_t pos = *at;
    const std::string reply = frame_of(reply_body(key, key));
    // What must go first may not fit beside what the socket holds (a message over the limit, most often).
    int queued = 0;
    if (ioctl(link.fd, FIONREAD, &queued) != 0) abort();
    if (static_cast<size_t>(queued) + pos + reply.size() - written > kHandlerRoom) return 0;
    stream.insert(pos, reply);
    for (auto later = at + 1; later != bounds.end(); ++later) *later += reply.size();
    bounds.insert(at + 1, pos + reply.size());
    write_to(pos + reply.size(), true);
    if (link_flush_head(&link) != 0) abort();
    char* value = nullptr;
    if (infod_get_multiple(link.fd, key.c_str(), &value) != 0 || value == nullptr || key != value) abort();
    free(value);
    if (link_after_get(&link) != 0) abort();
    char sink[4096];
    while (read(peer, sink, sizeof sink) > 0) {
    }
    return 0;
  }

  // One pass of the event loop, without waiting.
  void pass() {
    event_base_loop(event_base_, EVLOOP_ONCE | EVLOOP_NONBLOCK);
    if (exit_status >= 0) abort();
  }

  void run() {
    while (written < stream.size()) {
      const uint8_t b = choices.last(255);
      // Chunks of a few bytes, cutting headers and bodies, up to many messages at once.
      const size_t chunk = b < 128 ? b : static_cast<size_t>(b - 127) * 1024;
      write_to(std::min(stream.size(), written + chunk));
      pass();
    }
    // While anything is left, each pass handles at least one message.
    for (size_t i = 0; i <= sent.size() + static_cast<size_t>(oversized) &&
                       (handled.size() < sent.size() || logged_oversized < oversized);
         ++i) {
      pass();
    }
    if (handled != sent || logged_oversized != oversized) abort();
  }

  Choices choices;
  event_base* event_base_ = event_init();  // before the link, whose events it outlives
  InfodLink link;
  int peer = -1, exit_status = -1;
  std::string stream;             // every message, replies included once placed
  std::vector<size_t> bounds{0};  // the stream's start and where each message in it ends
  std::vector<std::string> sent, handled;
  size_t written = 0;
  int oversized = 0, logged_oversized = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness h(Choices{data, 0, size});
  h.build();
  h.run();
  return 0;
}
