// Endpoint names and the frame buffer, shared by every platform.
#include "os/local_endpoint.h"

#include <cstring>

namespace vexlor::os {

// Role names carry no '.', so the "fn." prefix keeps routines and roles apart.
std::string routine_endpoint(const std::string& routine_name) { return "fn." + routine_name; }

bool LocalStream::take_buffered_frame(std::string& payload, IoResult& result) {
  constexpr std::size_t kChunk = 64 * 1024;
  const std::size_t have = end_ - start_;
  std::size_t need = 4;
  if (have >= 4) {
    const unsigned char* h = reinterpret_cast<const unsigned char*>(buffer_.get() + start_);
    std::size_t len = std::size_t(h[0]) | std::size_t(h[1]) << 8 | std::size_t(h[2]) << 16 |
                      std::size_t(h[3]) << 24;
    if (len > kMaxFrameBytes) {
      result = IoResult::kError;
      return true;
    }
    need = 4 + len;
    if (have >= need) {
      payload.assign(buffer_.get() + start_ + 4, len);
      start_ += need;
      if (start_ == end_) start_ = end_ = 0;
      result = IoResult::kOk;
      return true;
    }
  }
  // Make room for the rest of the frame (at least one chunk).
  if (start_ > 0 && (cap_ - end_ < need - have || cap_ - end_ < kChunk)) {
    std::memmove(buffer_.get(), buffer_.get() + start_, have);
    start_ = 0;
    end_ = have;
  }
  std::size_t want = need - have > kChunk ? need - have : kChunk;
  if (cap_ - end_ < want) {
    std::size_t cap = end_ + want;
    std::unique_ptr<char[]> grown(new char[cap]);
    if (end_ > start_) std::memcpy(grown.get(), buffer_.get() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
    buffer_ = std::move(grown);
    cap_ = cap;
  }
  return false;
}

}  // namespace vexlor::os
