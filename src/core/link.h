// The infod link: framing in both directions, the outgoing queue, the
// incoming reader and the routing of each complete update.
//
// Every message is a 4-byte big-endian length and a body of fields
// separated by RS (0x1E). The daemon sends pushes (type 1), subscriptions
// (2) and unsubscriptions (3), and acts on value updates (type 8).
#pragma once

#include <cstdint>
#include <string>

struct DaemonContext;

constexpr char kRS = '\x1e';

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
  int32_t field3 = 0;
  uint64_t field4 = 0;
  const char* value = nullptr;
};

// Splits a NUL-terminated body in place: fields 1 to 4 end at RS, CR or LF,
// the value ends at CR or LF only, and a run of separators counts as one,
// so empty fields vanish. Returns the number of fields.
int link_split_fields(char* body, UpdateFields* fields);

// Formats one outgoing message, header included.
std::string link_format(int type, const char* key, int number, const char* value);

// Stores the socket, registers the loop's events, arms the tick, sets the
// defaults and queues the subscription to the control key.
void link_init(DaemonContext* ctx, int fd);

// Queues one message of type 1, 2 or 3; -1 (logged) otherwise.
int link_send(DaemonContext* ctx, int type, const char* key, int number, const char* value);
int link_subscribe(DaemonContext* ctx, const char* key);
int link_unsubscribe(DaemonContext* ctx, const char* key);
// A line for the log key, number 0.
int link_push(DaemonContext* ctx, const char* key, const char* value);
// A value under key + ".status", number 2.
int link_push_status(DaemonContext* ctx, const char* key, const char* value);

// The read and write callbacks.
void link_on_readable(int fd, short events, void* ctx);
void link_on_writable(int fd, short events, void* ctx);

// Parses and routes the complete message in ctx->body; 0 handled or
// ignored, non-zero failed.
int link_handle_message(DaemonContext* ctx);

// Finishes writing a partly written head message, so a synchronous call on
// the socket cannot interleave its bytes with it; -1 when the socket failed.
int link_flush_head(DaemonContext* ctx);

// Ends the event loop; the process exits with status.
void link_fatal(DaemonContext* ctx, int status);
