// arctl's connection to infod: gets and pushes through the platform's
// infod client calls, and a subscription whose updates it reads itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The client name arctl subscribes with.
constexpr const char* kArctlClient = "arctl";

// One value update: the fourth field is the time infod took it, in
// milliseconds since the epoch.
struct InfodUpdate {
  std::string key;
  uint64_t time_ms = 0;
  std::string value;
};

class InfodConnection {
 public:
  InfodConnection() = default;
  ~InfodConnection();
  InfodConnection(const InfodConnection&) = delete;
  InfodConnection& operator=(const InfodConnection&) = delete;

  // Connects to the socket at path; false with a sentence for people in
  // *error (infod is not running, or the path is no socket).
  bool open(const std::string& path, std::string* error);

  // The value infod holds for key: true with *value, left empty when it
  // holds none; false when infod does not answer within 2 seconds.
  bool get(const std::string& key, std::optional<std::string>* value);

  // The values infod holds for keys, in their order (each left empty when
  // it holds none): the gets are written as fast as the socket takes them
  // while the replies are read, so thousands cost no round trip each.
  // False when the socket failed or infod did not answer within 2 seconds
  // of its last reply. Updates read on the way wait for next_update.
  bool get_many(const std::vector<std::string>& keys, std::vector<std::optional<std::string>>* values);

  // Pushes value under key with number; false when the socket failed.
  bool push(const std::string& key, int number, const std::string& value);

  // Subscribes to key (and every key below it); false when the socket failed.
  bool subscribe(const std::string& key);

  // Waits for the next value update, for ever or at most timeout_ms;
  // false when infod closed the connection, it failed, or time ran out.
  bool next_update(InfodUpdate* update, int timeout_ms = -1);

  // Whether an update, or the rest of one, waits to be read (without
  // waiting for it), and the socket to wait on for one.
  bool readable() const;
  int fd() const { return fd_; }

 private:
  // Reads one whole frame's body; false at the end of the stream or when
  // time runs out.
  bool read_body(std::string* body);
  bool read_bytes(char* buf, size_t len);

  int fd_ = -1;
  // Bytes get_many read past the replies it waited for, and the rest of a
  // frame it read in part: they come before the socket's next byte.
  std::string held_;
  int64_t deadline_ms_ = -1;  // of the read under way, on the monotonic clock; -1: none
};
