// Local message endpoints of an instance: one listening endpoint per process, named by role
// ("manager", "engine", "gui") or by routine, and byte streams of length-prefixed frames
// between them (Unix domain stream sockets on POSIX, named pipes on Windows).
//
// Liveness: a listener holds an exclusive lock on "<endpoint>.lock" for its lifetime, so a
// second listener for the same endpoint is refused while the first lives, and the socket
// left behind by a killed listener is replaced by the next one. Connecting to an endpoint
// nobody serves fails at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vexlor::os {

// Endpoint names of the peer processes. Routine endpoints are named by
// routine_endpoint(name) so that no routine name can take a role's endpoint.
inline constexpr const char* kManagerEndpoint = "manager";
inline constexpr const char* kEngineEndpoint = "engine";
inline constexpr const char* kGuiEndpoint = "gui";
std::string routine_endpoint(const std::string& routine_name);

// Folder of the instance's endpoints (instance_dir()/endpoint, 0770); created on demand.
std::string endpoint_dir(bool create);
// The socket (or pipe) path of an endpoint in the current instance; "<path>.lock" is its lock.
std::string endpoint_path(const std::string& endpoint);
// True while a live process serves the endpoint of the current instance.
bool endpoint_served(const std::string& endpoint);

// Largest frame accepted from a peer; bigger length prefixes close the stream.
inline constexpr std::size_t kMaxFrameBytes = 64u << 20;

enum class IoResult { kOk, kClosed, kTimeout, kError };

// One connected byte stream carrying frames: a 32-bit little-endian payload length, then the
// payload. One thread may read while another writes; otherwise one owner at a time (shutdown()
// may be called from any thread).
class LocalStream {
 public:
  LocalStream() = default;
  ~LocalStream();
  LocalStream(LocalStream&& other) noexcept;
  LocalStream& operator=(LocalStream&& other) noexcept;
  LocalStream(const LocalStream&) = delete;
  LocalStream& operator=(const LocalStream&) = delete;

  // Connects to a served endpoint of the current instance. Fails at once (with `error`)
  // when nobody serves it.
  bool connect(const std::string& endpoint, std::string* error);
  // Bounds every later send and receive (0: no bound). Set once; costs nothing per frame.
  bool set_timeout_ms(int timeout_ms);
  // Sends one frame in one write where possible.
  IoResult write_frame(const void* payload, std::size_t size);
  IoResult write_frame(const std::string& payload) {
    return write_frame(payload.data(), payload.size());
  }
  // Receives one whole frame into `payload`. kTimeout when the bound ran out first.
  IoResult read_frame(std::string& payload);
  // Wakes a reader blocked in another thread (it sees kClosed); the stream stays open.
  void shutdown();
  void close();
  bool valid() const;
  // True while the stream is valid and its peer has not closed its end; asks the system
  // without waiting and without sending anything.
  bool peer_open() const;
  // Bytes received but not handed out yet: non-zero after a time-out means a frame is half in.
  std::size_t buffered() const { return end_ - start_; }

  // For the listener and the benchmark: adopts a connected descriptor / handle.
  explicit LocalStream(intptr_t native);
  intptr_t native() const { return native_; }

 private:
  // True when the buffer decides the read: a whole frame handed out (`result` kOk) or an
  // over-long length prefix (kError). False: room is made for the rest of the frame.
  bool take_buffered_frame(std::string& payload, IoResult& result);

  intptr_t native_ = -1;
  // Windows only: the event shutdown() sets to wake a waiting read or write, the completion
  // events of reads and of writes, and the bound.
  [[maybe_unused]] intptr_t wake_ = -1;
  [[maybe_unused]] intptr_t io_event_ = -1;
  [[maybe_unused]] intptr_t write_event_ = -1;
  [[maybe_unused]] int timeout_ms_ = 0;
  // Received bytes not handed out yet: [start_, end_) of buffer_ (capacity cap_).
  std::unique_ptr<char[]> buffer_;
  std::size_t cap_ = 0, start_ = 0, end_ = 0;
};

// The listening side of one endpoint.
class LocalListener {
 public:
  LocalListener() = default;
  ~LocalListener();
  LocalListener(const LocalListener&) = delete;
  LocalListener& operator=(const LocalListener&) = delete;

  // Opens the endpoint. Refused (false, `busy` set when given) when a live process already
  // serves it; a stale endpoint of a dead process is replaced.
  bool open(const std::string& endpoint, std::string* error, bool* busy = nullptr);
  // Waits up to timeout_ms (negative: no bound) for a client. An invalid stream on time-out,
  // after interrupt() or on failure.
  LocalStream accept(int timeout_ms);
  // Makes a blocked or later accept() return at once; callable from any thread.
  void interrupt();
  // Stops serving: removes the endpoint and its lock file (only in the process that opened
  // it, so a forked child closing its copy leaves the parent's endpoint alone). Safe to call
  // twice.
  void close();
  bool is_open() const { return native_ != -1; }
  const std::string& endpoint() const { return endpoint_; }

 private:
  intptr_t native_ = -1;
  intptr_t lock_ = -1;
  intptr_t wake_[2] = {-1, -1};
  intptr_t owner_ = -1;  // the process that opened it; a forked child never removes its files
  [[maybe_unused]] void* pending_ = nullptr;  // Windows: the overlapped connect on the open pipe
  std::string endpoint_, path_;
};

// A connected pair of streams of the same kind as endpoint streams (benchmarks, tests).
bool local_stream_pair(LocalStream& a, LocalStream& b);

}  // namespace vexlor::os
