// The infod link: framing in both directions, the outgoing queue and its
// writer, and the incoming reader, which hands each complete message body
// to the handler it was given. What a message means is not its business.
//
// Every message is a 4-byte big-endian length and a body of fields
// separated by RS (0x1E). The daemon sends pushes, subscriptions and
// unsubscriptions, and acts on value updates.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "core/loop.h"

constexpr char kRS = '\x1e';

// The first field of every body.
enum InfodMessageType : int {
  kInfodPush = 1,
  kInfodSubscribe = 2,
  kInfodUnsubscribe = 3,
  kInfodGet = 4,
  kInfodReply = 5,
  kInfodUpdate = 8,
};

// The most body bytes the reader accepts in one message.
constexpr uint32_t kMaxInfodMessage = 1024 * 1024;

// The daemon's client name in subscriptions.
constexpr const char* kInfodClientName = "ard";

// The key of engine log lines.
constexpr const char* kLogKey = "config.autoresponse.log";

// The fields of one incoming body, split in place.
struct UpdateFields {
  int count = 0;  // fields found, at most 5
  long type = 0;
  const char* key = nullptr;
  int32_t number = 0;    // carried along, never interpreted
  uint64_t time_ms = 0;  // time of the update, milliseconds since the epoch
  const char* value = nullptr;
};

// Splits a NUL-terminated body in place: fields 1 to 4 end at RS, CR or LF,
// the value ends at CR or LF only, and a run of separators counts as one,
// so empty fields vanish. Returns the number of fields.
int link_split_fields(char* body, UpdateFields* fields);

// Formats one outgoing message, header included: a push carries key,
// number and value, the others the client name and key.
std::string link_format(int type, const char* key, int number, const char* value);

// One framed outgoing message: the 4-byte length header and the body.
struct InfodMessage {
  std::string text;
};

// Takes one complete body (body_len bytes and a NUL); 0 handled or
// ignored, anything else ends the daemon with status 1.
using LinkMessageHandler = int (*)(void* owner, char* body);

enum class ReaderState {
  kIdle,    // between messages
  kHeader,  // reading the 4-byte length
  kBody,    // reading body_len bytes
};

struct InfodLink {
  int fd = -1;
  LoopEvent read_event;
  LoopEvent write_event;

  // The handler of every complete body and the object it is called with,
  // given by link_init.
  LinkMessageHandler on_message = nullptr;
  void* owner = nullptr;
  // The process's exit status, set by a fatal error (the loop then ends);
  // its owner points it at the status it returns.
  int* exit_status = nullptr;

  // Incoming reader.
  ReaderState read_state = ReaderState::kIdle;
  unsigned char header[4] = {};
  int header_read = 0;
  std::vector<char> body;  // body_len + 1 bytes, NUL-terminated
  uint32_t body_len = 0;
  uint32_t body_read = 0;

  // Outgoing writer.
  size_t write_offset = 0;
  bool write_event_added = false;
  std::deque<InfodMessage> out_queue;
};

// Stores the socket and the message handler, and registers the read event
// (and the write event, added whenever something is queued).
void link_init(InfodLink* link, int fd, LinkMessageHandler on_message, void* owner);

// Queues one message of type push, subscribe or unsubscribe; -1 (logged)
// for any other type or when memory runs out.
int link_send(InfodLink* link, int type, const char* key, int number, const char* value);
int link_subscribe(InfodLink* link, const char* key);
int link_unsubscribe(InfodLink* link, const char* key);
// A line for the log key, number 0.
int link_push(InfodLink* link, const char* key, const char* value);
// A value under key + ".status", number 2.
int link_push_status(InfodLink* link, const char* key, const char* value);

// The read and write callbacks (arg is the InfodLink).
void link_on_readable(int fd, short events, void* link);
void link_on_writable(int fd, short events, void* link);

// Finishes writing a partly written head message, so a synchronous call on
// the socket cannot interleave its bytes with it; -1 when the socket failed.
int link_flush_head(InfodLink* link);

// Whether a fatal error has ended the daemon.
bool link_stopped(const InfodLink* link);

// Ends the event loop; the process exits with status (the first one set).
void link_fatal(InfodLink* link, int status);
