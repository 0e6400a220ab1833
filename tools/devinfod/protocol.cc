// The development infod's readings of requests, replies and updates, and
// the subscription match rule.
#include "devinfod/protocol.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "wire/message.h"

namespace devinfod {

namespace {

// Parses all of text as a signed decimal; false for anything else.
bool parse_integer(std::string_view field, long long& out) {
  const std::string text(field);
  if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  out = v;
  return true;
}

bool parse_unsigned(std::string_view field, uint64_t& out) {
  const std::string text(field);
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  out = v;
  return true;
}

// text with RS, CR and LF made visible, for one-line logs.
std::string visible(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == kRS) {
      out += '|';
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string cut_at_line_end(std::string_view text) { return std::string(text.substr(0, text.find_first_of("\r\n"))); }

}  // namespace

bool subscription_matches(const std::string& sub, const std::string& key) {
  if (key.size() == sub.size()) return key == sub;
  return key.size() > sub.size() && key[sub.size()] == '.' && key.compare(0, sub.size(), sub) == 0;
}

Request parse_request(std::string_view body) {
  Request req;
  const std::string_view type = split_fields(body, 2)[0];
  if (type == "1") {
    req.kind = Request::Kind::kPush;
    const std::vector<std::string_view> f = split_fields(body, 4);
    if (f.size() < 4 || f[1].empty() || !parse_integer(f[2], req.number)) {
      req.kind = Request::Kind::kMalformed;
      return req;
    }
    req.key = f[1];
    req.value = f[3];
    return req;
  }
  if (type == "2" || type == "3" || type == "4") {
    req.kind = type == "2"   ? Request::Kind::kSubscribe
               : type == "3" ? Request::Kind::kUnsubscribe
                             : Request::Kind::kGet;
    const std::vector<std::string_view> f = split_fields(body, 3);
    if (f.size() < 3 || f[2].empty()) {
      req.kind = Request::Kind::kMalformed;
      return req;
    }
    req.client = f[1];
    req.key = f[2];
    return req;
  }
  req.kind = Request::Kind::kUnknown;
  return req;
}

std::string describe_request(std::string_view body) {
  Request req = parse_request(body);
  switch (req.kind) {
    case Request::Kind::kPush:
      return "<- push " + visible(req.key) + " " + std::to_string(req.number) + " " + visible(req.value);
    case Request::Kind::kSubscribe:
      return "<- sub " + visible(req.client) + " " + visible(req.key);
    case Request::Kind::kUnsubscribe:
      return "<- unsub " + visible(req.client) + " " + visible(req.key);
    case Request::Kind::kGet:
      return "<- get " + visible(req.client) + " " + visible(req.key);
    case Request::Kind::kMalformed:
      return "<- bad " + visible(body);
    case Request::Kind::kUnknown:
      break;
  }
  return "<- unknown " + visible(body);
}

Reply parse_reply(std::string_view body) {
  Reply r;
  const std::vector<std::string_view> head = split_fields(body, 2);
  std::string_view key;
  std::optional<std::string_view> value;
  if (split_reply(body, &key, &value)) {
    r.type = 5;
    r.key = key;
    if (value) r.value = std::string(*value);
    return r;
  }
  if (head[0] == "8") {
    const std::vector<std::string_view> f = split_fields(body, 5);
    if (f.size() < 5 || f[1].empty() || !parse_integer(f[2], r.number) || !parse_unsigned(f[3], r.time_ms)) return r;
    r.type = 8;
    r.key = f[1];
    r.value = cut_at_line_end(f[4]);
  }
  return r;
}

}  // namespace devinfod
