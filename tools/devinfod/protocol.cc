// Frame encoding and decoding, message bodies and the subscription match
// rule of the development infod.
#include "devinfod/protocol.h"

#include <cerrno>
#include <cstdlib>

namespace devinfod {

namespace {

constexpr size_t kHeaderLen = 4;

// Parses all of text as a signed decimal; false for anything else.
bool parse_integer(const std::string& text, long long& out) {
  if (text.empty() || text[0] == ' ' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  out = v;
  return true;
}

bool parse_unsigned(const std::string& text, uint64_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size()) return false;
  out = v;
  return true;
}

// text with RS, CR and LF made visible, for one-line logs.
std::string visible(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == kRs) {
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

std::string cut_at_line_end(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

std::string encode_frame(const std::string& body) {
  auto len = static_cast<uint32_t>(body.size());
  std::string frame;
  frame.reserve(kHeaderLen + body.size());
  for (int shift = 24; shift >= 0; shift -= 8) frame.push_back(static_cast<char>((len >> shift) & 0xff));
  frame += body;
  return frame;
}

void FrameDecoder::feed(const char* data, size_t len) {
  if (oversize_) return;
  // Drop what was handed out before growing the buffer again.
  if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(data, len);
}

FrameDecoder::Status FrameDecoder::next(std::string& body) {
  if (oversize_) return Status::kOversize;
  if (pending() < kHeaderLen) return Status::kNeedMore;
  size_t len = 0;
  for (size_t i = 0; i < kHeaderLen; i++) len = (len << 8) | static_cast<unsigned char>(buf_[pos_ + i]);
  if (len > kMaxBody) {
    oversize_ = true;
    buf_.clear();
    pos_ = 0;
    return Status::kOversize;
  }
  if (pending() < kHeaderLen + len) return Status::kNeedMore;
  body.assign(buf_, pos_ + kHeaderLen, len);
  pos_ += kHeaderLen + len;
  if (pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  }
  return Status::kFrame;
}

std::vector<std::string> split_fields(const std::string& body, size_t max_fields) {
  std::vector<std::string> fields;
  if (max_fields == 0) return fields;
  size_t start = 0;
  while (fields.size() + 1 < max_fields) {
    size_t rs = body.find(kRs, start);
    if (rs == std::string::npos) break;
    fields.push_back(body.substr(start, rs - start));
    start = rs + 1;
  }
  fields.push_back(body.substr(start));
  return fields;
}

bool subscription_matches(const std::string& sub, const std::string& key) {
  if (key.size() == sub.size()) return key == sub;
  return key.size() > sub.size() && key[sub.size()] == '.' && key.compare(0, sub.size(), sub) == 0;
}

std::string push_body(const std::string& key, long long number, const std::string& value) {
  return std::string("1") + kRs + key + kRs + std::to_string(number) + kRs + value;
}

std::string subscribe_body(const std::string& client, const std::string& key) {
  return std::string("2") + kRs + client + kRs + key;
}

std::string unsubscribe_body(const std::string& client, const std::string& key) {
  return std::string("3") + kRs + client + kRs + key;
}

std::string get_body(const std::string& client, const std::string& key) {
  return std::string("4") + kRs + client + kRs + key;
}

std::string reply_body(const std::string& key, const std::optional<std::string>& value) {
  std::string body = std::string("5") + kRs + key;
  if (value) body += kRs + *value;
  return body;
}

std::string update_body(const std::string& key, long long number, uint64_t time_ms, const std::string& value) {
  return std::string("8") + kRs + key + kRs + std::to_string(number) + kRs + std::to_string(time_ms) + kRs + value +
         "\r\n";
}

Request parse_request(const std::string& body) {
  Request req;
  std::vector<std::string> head = split_fields(body, 2);
  const std::string& type = head[0];
  if (type == "1") {
    req.kind = Request::Kind::kPush;
    std::vector<std::string> f = split_fields(body, 4);
    if (f.size() < 4 || f[1].empty() || !parse_integer(f[2], req.number)) {
      req.kind = Request::Kind::kMalformed;
      return req;
    }
    req.key = f[1];
    req.value = f[3];
    return req;
  }
  if (type == "2" || type == "3" || type == "4") {
    req.kind = type == "2" ? Request::Kind::kSubscribe
               : type == "3" ? Request::Kind::kUnsubscribe
                             : Request::Kind::kGet;
    std::vector<std::string> f = split_fields(body, 3);
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

std::string describe_request(const std::string& body) {
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

Reply parse_reply(const std::string& body) {
  Reply r;
  std::vector<std::string> head = split_fields(body, 2);
  if (head[0] == "5" && head.size() == 2) {
    std::vector<std::string> f = split_fields(body, 3);
    std::string key = f[1];
    size_t end = key.find_first_of("\r\n");
    bool bare = f.size() == 2 || end != std::string::npos;
    r.type = 5;
    r.key = key.substr(0, end);
    if (!bare) r.value = cut_at_line_end(f[2]);
    return r;
  }
  if (head[0] == "8") {
    std::vector<std::string> f = split_fields(body, 5);
    if (f.size() < 5 || f[1].empty() || !parse_integer(f[2], r.number) || !parse_unsigned(f[3], r.time_ms)) return r;
    r.type = 8;
    r.key = f[1];
    r.value = cut_at_line_end(f[4]);
  }
  return r;
}

}  // namespace devinfod
