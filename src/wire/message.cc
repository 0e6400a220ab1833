// infod's message bodies: writing each type, and the readings of one.
#include "wire/message.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/leading_int.h"

namespace {

template <class Number>
void append_number(std::string* out, Number n) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  out->append(digits, end);
}

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

}  // namespace

std::string join_fields(std::initializer_list<std::string_view> fields) {
  std::string body;
  for (auto field = fields.begin(); field != fields.end(); ++field) {
    if (field != fields.begin()) body += kRS;
    body.append(*field);
  }
  return body;
}

void append_push(std::string* body, std::string_view key, std::string_view key_rest, long long number,
                 std::string_view value) {
  append_number(body, int{kInfodPush});
  *body += kRS;
  body->append(key).append(key_rest);
  *body += kRS;
  append_number(body, number);
  *body += kRS;
  body->append(value);
}

void append_request(std::string* body, InfodMessageType type, std::string_view client, std::string_view key,
                    std::string_view key_rest) {
  append_number(body, int{type});
  *body += kRS;
  body->append(client);
  *body += kRS;
  body->append(key).append(key_rest);
}

std::string push_body(std::string_view key, long long number, std::string_view value) {
  std::string body;
  append_push(&body, key, {}, number, value);
  return body;
}

std::string request_body(InfodMessageType type, std::string_view client, std::string_view key) {
  std::string body;
  append_request(&body, type, client, key, {});
  return body;
}

std::string reply_body(std::string_view key, std::optional<std::string_view> value) {
  return value ? join_fields({"5", key, *value}) : join_fields({"5", key});
}

std::string update_body(std::string_view key, long long number, uint64_t time_ms, std::string_view value) {
  std::string body = "8";
  body += kRS;
  body.append(key);
  body += kRS;
  append_number(&body, number);
  body += kRS;
  append_number(&body, time_ms);
  body += kRS;
  body.append(value);
  return body += "\r\n";
}

std::vector<std::string_view> split_fields(std::string_view body, size_t max_fields) {
  std::vector<std::string_view> fields;
  for (size_t rs; fields.size() + 1 < max_fields && (rs = body.find(kRS)) != std::string_view::npos;) {
    fields.push_back(body.substr(0, rs));
    body.remove_prefix(rs + 1);
  }
  fields.push_back(body);
  return fields;
}

int split_message(char* body, InfodMessage* message) {
  static const char kFieldEnds[] = {kRS, '\r', '\n', '\0'};
  *message = InfodMessage{};
  char* pos = body;
  char* token = next_token(&pos, kFieldEnds);
  if (token == nullptr) return 0;
  message->type = strtol(token, nullptr, 10);
  message->count = 1;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return message->count;
  message->key = token;
  message->count = 2;
  if (message->type == kInfodReply) {
    // A reply holds its value right after the key, RS bytes and all.
    if ((token = next_token(&pos, "\r\n")) == nullptr) return message->count;
    message->value = token;
    return message->count = 3;
  }
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return message->count;
  message->number = leading_int(token);
  message->count = 3;
  if ((token = next_token(&pos, kFieldEnds)) == nullptr) return message->count;
  message->time_ms = strtoull(token, nullptr, 10);
  message->count = 4;
  if ((token = next_token(&pos, "\r\n")) == nullptr) return message->count;
  message->value = token;
  message->count = 5;
  return message->count;
}

bool split_reply(std::string_view body, std::string_view* key, std::optional<std::string_view>* value) {
  if (body.size() < 2 || body[0] != '0' + kInfodReply || body[1] != kRS) return false;
  body.remove_prefix(2);
  const size_t end = body.find_first_of(std::string_view("\x1e\r\n", 3));
  *key = body.substr(0, end);
  value->reset();
  if (end != std::string_view::npos && body[end] == kRS) {
    const std::string_view rest = body.substr(end + 1);
    *value = rest.substr(0, rest.find_first_of("\r\n"));
  }
  return true;
}
