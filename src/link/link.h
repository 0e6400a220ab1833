// The infod link: the outgoing queue and its writer, and the incoming
// reader, which hands each complete message to the handler it was given,
// split into its fields. What a message means is not its business.
//
// Frames and bodies are infod's (wire/frame.h, wire/message.h). The daemon
// sends pushes, subscriptions and unsubscriptions, and acts on value
// updates.
#pragma once

#include <chrono>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/loop.h"
#include "model/publisher.h"
#include "wire/frame.h"
#include "wire/message.h"

// The daemon's client name in subscriptions.
constexpr const char* kInfodClientName = "ard";

// Formats one outgoing message, header included: a push carries key,
// number and value, the others (a get too) the client name and key.
std::string link_format(int type, const char* key, int number, const char* value);

// Whether a message that the daemon writes past the link (a synchronous get
// or push) fits in what infod takes; when it does not, the log says what it
// was, as the link's own guard does.
bool link_fits(int type, const std::string& key, const std::string& value);

// Takes one message, split (wire/message.h split_message): its texts live
// until the handler returns. 0 handled or ignored, anything else ends the
// daemon with status 1. An empty message carries nothing and is not handed
// over, nor is one longer than kMaxInfodMessage: the reader reads past it,
// never holding it whole, and logs "Message too long from infod: N: key K"
// with its length and the beginning of its key. A header that announces
// more than kMaxInfodFrame ends the daemon ("Message too long from infod:
// N", status 1).
using LinkMessageHandler = int (*)(void* owner, const InfodMessage& message);

// What the reader tells its owner of a turn (LinkTurnHook): a turn has
// begun, or a read has brought bytes (kRead, before what it brought is
// handed over), or the turn has ended (kEnd).
enum class LinkTurn {
  kRead,
  kEnd,
};
using LinkTurnHook = void (*)(void* owner, LinkTurn event);

// The reader's state: what it holds of the one message it has begun.
enum class ReaderState {
  kIdle,    // between messages
  kHeader,  // part of the 4-byte length
  kBody,    // the length, and part of the body
};

struct InfodLink {
  int fd = -1;
  LoopEvent read_event;
  LoopEvent write_event;
  // A timer due at once: the reader's next turn, for what one turn left.
  LoopEvent more_event;

  // The handler of every complete message and the object it is called
  // with, given by link_init.
  LinkMessageHandler on_message = nullptr;
  void* owner = nullptr;
  // Told of each turn and of each read in it, when set: what the messages
  // of one read share (the freshness of the configuration) is looked at
  // once for all of them.
  LinkTurnHook on_turn = nullptr;
  // The process's exit status, set by a fatal error (the loop then ends);
  // its owner points it at the status it returns.
  int* exit_status = nullptr;

  // Incoming reader: in[in_start, in_end) was read and is not handled yet.
  // Between callbacks it is the whole messages a turn left, if any, and
  // the beginning of one more. A message whose body is longer than
  // kMaxInfodMessage is held cut (wire/frame.h): its header and its first
  // kOversizeHead body bytes; in_drop counts what is still to come of the
  // last one cut, dropped as it arrives. Up to in_scan every message is
  // whole, cut where it is too long.
  std::vector<char> in;
  size_t in_start = 0;
  size_t in_end = 0;
  size_t in_scan = 0;
  uint32_t in_drop = 0;
  std::vector<char> body;  // the body being handled, NUL-terminated and split in place
  // The messages the reader's running turn may still handle; 0 outside a
  // turn, and once a synchronous call has ended it.
  int turn_left = 0;

  // Outgoing writer: out holds the queued messages one after another, and
  // out[out_start, out.size()) is not written yet. head_rest is what is
  // left of a message partly written, 0 at a message boundary. More than
  // 8 MiB waiting for writability ends the daemon as a failed write does.
  std::string out;
  size_t out_start = 0;
  size_t head_rest = 0;
  // Where the messages of the incoming message being handled (or of the
  // running callback) begin in out: what earlier ones queued goes out ahead
  // of a synchronous call, what this one queued after it.
  size_t out_mark = 0;
  // Greater than 0 while a callback runs: its messages go out together
  // when it ends (link_uncork).
  int cork = 0;
  // The write event is pending: what is queued waits for writability.
  bool write_event_added = false;
  // link_start_writing has been called.
  bool writing = false;
};

// Stores the socket and the message handler and registers the read event
// (and the write event, added only while the socket does not take what is
// queued, and the reader's next turn, added while one left messages over).
// Messages queued from here wait until link_start_writing.
void link_init(InfodLink* link, int fd, LinkMessageHandler on_message, void* owner);

// The loop is about to run: what was queued at start-up goes out as soon as
// the socket is writable, and from now on each callback writes its own.
void link_start_writing(InfodLink* link);

// Queues one message of type push, subscribe, unsubscribe or get; -1 (logged)
// for any other type or when memory runs out, kPublishTooLong (logged,
// model/publisher.h) for one whose body would exceed kMaxInfodMessage: it
// is not sent, since infod would close the link at it. Outside a callback
// (not corked) it is written at once when nothing else waits.
int link_send(InfodLink* link, int type, const char* key, int number, const char* value);
int link_subscribe(InfodLink* link, const char* key);
// A get whose reply the reader hands over like any other message.
int link_get(InfodLink* link, const char* key);
int link_unsubscribe(InfodLink* link, const char* key);
// A line for the log key, number 0.
int link_push(InfodLink* link, const char* key, const char* value);
// A value under key + ".status", number 2.
int link_push_status(InfodLink* link, const char* key, const char* value);

// Inside a callback, what it queued so far is whole, as if the callback
// had ended: a synchronous call from here on goes out after it, and once
// kWriteEarly bytes wait they are written as far as the socket takes them
// now (the rest waits, in order). Nothing is written before the loop runs.
void link_boundary(InfodLink* link);

// Around every loop callback (run_guarded): messages queued in between go
// out in one write when the outermost uncork comes, unless the writer
// already waits for writability; what the socket does not take waits for
// it, in order.
void link_cork(InfodLink* link);
void link_uncork(InfodLink* link);

// The read and write callbacks (arg is the InfodLink). One read callback is
// one turn of the reader: it hands over what is left from earlier turns and
// what synchronous gets kept, in order, and reads the socket only once none
// is left; it ends after 1024 messages, 16 reads, or a message whose handler
// made a synchronous call, and what is left waits for the next turn, which
// comes at the loop's next pass. More than 8 MiB read and not handled ends
// the daemon ("Error reading from infod: ...", status 1).
void link_on_readable(int fd, short events, void* link);
void link_on_writable(int fd, short events, void* link);

// Makes the socket ready for a synchronous call while an incoming message
// is handled: writes what the messages handled before it queued, as far as
// the socket takes it at once (they would have gone out at the end of
// callbacks of their own), finishes writing a partly written message, so
// the call's bytes cannot land inside it, and reads the rest of a message
// the reader has begun, so the call reads from a message boundary. What
// this message queued stays queued, to follow the call, and what was read
// stays for the reader, in order. -1 when the socket failed or the rest did
// not come in time. The reader's turn ends with the message being handled:
// the call may wait for infod.
int link_flush_head(InfodLink* link);

// After a synchronous get: what it read past its reply waits for the
// reader's next turn, which comes even if the socket stays quiet. -1 when
// more than 8 MiB waits to be handled, which ends the daemon.
int link_after_get(InfodLink* link);

// Before the loop runs, on a socket nothing else reads yet: writes what is
// queued, then a get of each key, and reads until each has its reply or
// none came for wait. Every other message read meanwhile stays for the
// reader, whole and in order, to be handled at the loop's first turn; a
// reply to a key not asked for is dropped. (*values)[i] is the value of
// keys[i], nullopt when infod has none or did not answer in time. -1 when
// the socket failed: logged as the reader or the writer would, and fatal.
int link_get_all(InfodLink* link, const std::vector<std::string>& keys,
                 std::vector<std::optional<std::string>>* values, std::chrono::milliseconds wait);

// The reader's state (ReaderState) of its partial message.
ReaderState link_reader_state(const InfodLink* link);

// The messages queued and not yet written, each with its header; and
// dropping them (tests and benchmarks, which have no infod to take them).
std::vector<std::string> link_queued(const InfodLink* link);
void link_drop_queued(InfodLink* link);

// Whether a fatal error has ended the daemon.
bool link_stopped(const InfodLink* link);

// Ends the event loop; the process exits with status (the first one set).
void link_fatal(InfodLink* link, int status);

// Event callbacks are called from C; no exception may cross them. Memory
// exhaustion inside one is fatal to the daemon, reported and ended cleanly.
// Every callback runs corked: what it sends to infod goes out in one write
// when it ends, after anything a synchronous call wrote meanwhile.
// Runs body corked; std::bad_alloc ends the daemon with status 1.
template <class Body>
void run_guarded(InfodLink* link, Body&& body) {
  link_cork(link);
  try {
    body();
  } catch (const std::bad_alloc&) {
    ar_log(kLogFatal, "Out of memory");
    link_fatal(link, 1);
  }
  link_uncork(link);
}
