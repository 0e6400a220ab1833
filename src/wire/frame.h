// Frames, as every peer of infod reads and writes them: a 4-byte big-endian
// body length, then the body. The daemon's link, arctl, the development
// infod, the tests and the benchmarks frame through here; the platform's
// infod calls (platform/infod_client.h) stand for the appliance's own
// library and keep a framing of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The bytes of a frame's header.
constexpr size_t kFrameHeader = 4;

// The most body bytes in one message, either way: infod closes a connection
// that sends it more. infod may still deliver more (an update carries its
// time stamp besides the value pushed): the daemon reads past such a frame,
// keeping only its first kOversizeHead body bytes to say whose it was, and
// the other readers of infod's give up at it.
constexpr uint32_t kMaxInfodMessage = 1024 * 1024;

// No infod sends a body longer than this: a header that announces more is
// no frame, and ends the daemon's link.
constexpr uint32_t kMaxInfodFrame = 16 * 1024 * 1024;

// The body bytes of a frame over kMaxInfodMessage that the daemon keeps: its
// type and the beginning of its key.
constexpr uint32_t kOversizeHead = 80;

// The body length in the header at header (kFrameHeader bytes).
inline uint32_t frame_length(const char* header) {
  const auto byte = [header](int i) { return uint32_t{static_cast<unsigned char>(header[i])}; };
  return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

// A frame built in place: frame_open appends the header of a body still to
// come and returns where the frame begins; once the body follows it,
// frame_close writes the body's length into that header and returns it.
size_t frame_open(std::string* out);
size_t frame_close(std::string* out, size_t start);

// The whole frame of body.
std::string frame_of(std::string_view body);

// Cuts a byte stream that arrives in pieces into frame bodies.
class FrameReader {
 public:
  enum class Status { kFrame, kNeedMore, kOversize };

  // Appends received bytes.
  void feed(const char* data, size_t len);
  void feed(std::string_view data) { feed(data.data(), data.size()); }

  // The next whole body (kFrame), valid until the next feed; kNeedMore
  // until one is whole; kOversize, for good, once a header announces more
  // than kMaxInfodMessage bytes.
  Status next(std::string_view* body);

  // Bytes received and not yet handed out as a body.
  size_t pending() const { return buf_.size() - pos_; }

 private:
  std::string buf_;
  size_t pos_ = 0;
  bool oversize_ = false;
};
