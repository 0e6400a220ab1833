// Frames: building them, and cutting a stream into their bodies.
#include "wire/frame.h"

size_t frame_open(std::string* out) {
  const size_t start = out->size();
  out->append(kFrameHeader, '\0');
  return start;
}

size_t frame_close(std::string* out, size_t start) {
  const size_t length = out->size() - start - kFrameHeader;
  const auto n = static_cast<uint32_t>(length);
  char* header = &(*out)[start];
  header[0] = static_cast<char>(n >> 24);
  header[1] = static_cast<char>(n >> 16);
  header[2] = static_cast<char>(n >> 8);
  header[3] = static_cast<char>(n);
  return length;
}

std::string frame_of(std::string_view body) {
  std::string frame;
  frame.reserve(kFrameHeader + body.size());
  const size_t start = frame_open(&frame);
  frame.append(body);
  frame_close(&frame, start);
  return frame;
}

void FrameReader::feed(const char* data, size_t len) {
  if (oversize_) return;
  // What was handed out goes only now, when no body handed out is in use;
  // the rest moves to the front once it is the smaller part.
  if (pos_ == buf_.size()) {
    buf_.clear();
    pos_ = 0;
  } else if (pos_ > 0 && pos_ >= buf_.size() / 2) {
    buf_.erase(0, pos_);
    pos_ = 0;
  }
  buf_.append(data, len);
}

FrameReader::Status FrameReader::next(std::string_view* body) {
  if (oversize_) return Status::kOversize;
  if (pending() < kFrameHeader) return Status::kNeedMore;
  const uint32_t length = frame_length(buf_.data() + pos_);
  if (length > kMaxInfodMessage) {
    oversize_ = true;
    std::string().swap(buf_);
    pos_ = 0;
    return Status::kOversize;
  }
  if (pending() - kFrameHeader < length) return Status::kNeedMore;
  *body = std::string_view(buf_).substr(pos_ + kFrameHeader, length);
  pos_ += kFrameHeader + length;
  return Status::kFrame;
}
