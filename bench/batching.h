// The batching limit of the update benchmarks: a bare client without rules
// that reads all that is waiting and answers the whole batch in one send,
// each refreshing sensor's update with the daemon's own push, byte for
// byte: the most any reader of this traffic can do.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "link/link.h"
#include "wire/frame.h"
#include "wire/message.h"

namespace bench {

inline std::string sensor_key(int port) { return "config.ports.port" + std::to_string(port) + ".enviro.temp"; }

// The key the daemon pushes a refreshed value of port's rule under.
inline std::string answer_key(int port) {
  return "config.autoresponse.autoresponse" + std::to_string(port) + ".refs.ref1.curr_entry.status";
}

// What every bare client does with a body: split it and find the answer.
class Answers {
 public:
  explicit Answers(const std::vector<int>& ports) {
    for (const int port : ports) keys_[sensor_key(port)] = answer_key(port);
  }
  // The framed answer to one body, "" for none.
  std::string answer(char* body) const {
    InfodMessage m;
    if (split_message(body, &m) < 5 || m.type != kInfodUpdate) return "";
    const auto it = keys_.find(m.key);
    return it == keys_.end() ? "" : link_format(kInfodPush, it->second.c_str(), 2, m.value);
  }

 private:
  std::unordered_map<std::string, std::string> keys_;
};

// The batching limit: reads all that is waiting, answers it in one send,
// until the other end goes.
inline void batching_client(int fd, const Answers* answers) {
  std::vector<char> buf(64 * 1024);
  std::string carry, out, body;
  for (ssize_t n; (n = read(fd, buf.data(), buf.size())) > 0;) {
    carry.append(buf.data(), static_cast<size_t>(n));
    size_t at = 0;
    while (carry.size() - at >= kFrameHeader) {
      const uint32_t len = frame_length(carry.data() + at);
      if (carry.size() - at - kFrameHeader < len) break;
      body.assign(carry, at + kFrameHeader, len);
      out += answers->answer(body.data());
      at += kFrameHeader + len;
    }
    carry.erase(0, at);
    if (!out.empty() && send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) return;
    out.clear();
  }
}

}  // namespace bench
