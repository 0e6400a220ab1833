// The messages of infod's protocol: their types, the field separator, the
// body of each type, and the ways of reading a body that the daemon and the
// tools share.
//
// A body is fields separated by RS, the first of them its type:
//   1 push         1 RS key RS number RS value
//   2 subscribe    2 RS client RS key
//   3 unsubscribe  3 RS client RS key
//   4 get          4 RS client RS key
//   5 reply        5 RS key RS value, or 5 RS key when infod holds no value
//   8 update       8 RS key RS number RS time RS value CR LF
// The time of an update is infod's, in milliseconds since the epoch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The field separator.
constexpr char kRS = '\x1e';

enum InfodMessageType : int {
  kInfodPush = 1,
  kInfodSubscribe = 2,
  kInfodUnsubscribe = 3,
  kInfodGet = 4,
  kInfodReply = 5,
  kInfodUpdate = 8,
};

// The fields joined by RS.
std::string join_fields(std::initializer_list<std::string_view> fields);

// The body of a push, and of a subscription, its end or a get, appended to
// *body. key_rest continues the key within its field (the daemon's status
// keys are a reference's key and ".status").
void append_push(std::string* body, std::string_view key, std::string_view key_rest, long long number,
                 std::string_view value);
void append_request(std::string* body, InfodMessageType type, std::string_view client, std::string_view key,
                    std::string_view key_rest);

// The body of each type, whole.
std::string push_body(std::string_view key, long long number, std::string_view value);
std::string request_body(InfodMessageType type, std::string_view client, std::string_view key);
std::string reply_body(std::string_view key, std::optional<std::string_view> value);
std::string update_body(std::string_view key, long long number, uint64_t time_ms, std::string_view value);

// The fields of body at RS, at most max_fields (at least one): the last
// keeps the rest of the body, separators and all, and empty fields are
// kept. How infod reads what its clients send.
std::vector<std::string_view> split_fields(std::string_view body, size_t max_fields);

// A message from infod as the daemon reads it.
struct InfodMessage {
  int count = 0;  // fields found, at most 5
  long type = 0;
  const char* key = nullptr;
  int32_t number = 0;    // carried along, never interpreted
  uint64_t time_ms = 0;  // of an update
  const char* value = nullptr;
};

// Splits a NUL-terminated body in place into *message: the fields before
// the value end at RS, CR or LF and a run of those counts as one, so empty
// fields vanish; the value ends at CR or LF only, and keeps RS. The number
// is clamped to 32 bits. A reply's value follows its key (no value: none
// or empty). Returns the count of fields found.
int split_message(char* body, InfodMessage* message);

// The key of a reply and its value, none when the reply has none: the key
// ends at RS, CR or LF, and a value follows only an RS and ends at CR or LF.
// False for a body that is no reply.
bool split_reply(std::string_view body, std::string_view* key, std::optional<std::string_view>* value);
