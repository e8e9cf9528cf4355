// Local endpoints on Windows: byte-mode named pipes "\\.\pipe\vexlor.<instance>.<endpoint>"
// carrying the same frames as the Unix sockets, with overlapped I/O so that every read and
// write is bounded by the stream's time-out and can be woken by shutdown().
//
// Liveness: a listener holds the named mutex "Local\vexlor#endpoint.<instance>.<endpoint>" for
// its lifetime. A second listener finds it existing (183) and is refused; the kernel drops it
// with the last handle, so a killed listener's endpoint is free at once. A pipe name exists
// only while a pipe instance of it is open, so connecting to an endpoint nobody serves fails
// at once (not found), and a peer that dies breaks its streams (broken pipe).
#include "os/windows_api.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "os/instance.h"
#include "os/local_endpoint.h"

namespace vexlor::os {
namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;
// How long a client waits for a listener that is between two pipe instances.
constexpr DWORD kBusyWaitMs = 2000;

HANDLE as_handle(intptr_t native) { return reinterpret_cast<HANDLE>(native); }
intptr_t as_native(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

void close_handle(intptr_t& native) {
  if (native != -1) ::CloseHandle(as_handle(native));
  native = -1;
}

std::string system_text(const std::string& what, DWORD err) {
  char text[256];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             err, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  return what + ": " + (n > 0 ? std::string(text, n) : "error " + std::to_string(err));
}

HANDLE new_event() { return ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }

HANDLE new_pipe_instance(const std::string& path) {
  return ::CreateNamedPipeA(
      path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, nullptr);
}

bool broken(DWORD err) {
  return err == ERROR_BROKEN_PIPE || err == ERROR_PIPE_NOT_CONNECTED || err == ERROR_NO_DATA ||
         err == ERROR_OPERATION_ABORTED;
}

// One overlapped read or write of up to `size` bytes, waiting at most timeout_ms (<= 0: no
// bound) and giving way to the wake event. `done` gets the bytes moved.
IoResult transfer(HANDLE pipe, HANDLE io_event, HANDLE wake, bool write, void* data, DWORD size,
                  int timeout_ms, DWORD* done) {
  *done = 0;
  if (::WaitForSingleObject(wake, 0) == WAIT_OBJECT_0) return IoResult::kClosed;
  OVERLAPPED ov{};
  ov.hEvent = io_event;
  BOOL ok = write ? ::WriteFile(pipe, data, size, nullptr, &ov)
                  : ::ReadFile(pipe, data, size, nullptr, &ov);
  if (!ok) {
    DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) return broken(err) ? IoResult::kClosed : IoResult::kError;
    HANDLE both[2] = {io_event, wake};
    DWORD r = ::WaitForMultipleObjects(2, both, FALSE, timeout_ms > 0 ? timeout_ms : INFINITE);
    if (r != WAIT_OBJECT_0) {
      // Cancel, then collect the operation: it may have completed meanwhile.
      ::CancelIoEx(pipe, &ov);
      if (::GetOverlappedResult(pipe, &ov, done, TRUE) && *done > 0) return IoResult::kOk;
      *done = 0;
      return r == WAIT_OBJECT_0 + 1 ? IoResult::kClosed : IoResult::kTimeout;
    }
  }
  if (!::GetOverlappedResult(pipe, &ov, done, TRUE)) {
    DWORD err = ::GetLastError();
    return broken(err) ? IoResult::kClosed : IoResult::kError;
  }
  return IoResult::kOk;
}

// The named mutex a listener holds for its lifetime.
std::string liveness_name(const std::string& endpoint) {
  return "Local\\vexlor#endpoint." + file_name_for(instance_name()) + "." + file_name_for(endpoint);
}

// The listener's overlapped connect, kept at a fixed address while it is pending.
struct PendingConnect {
  OVERLAPPED ov{};
  bool pending = false;
};

}  // namespace

std::string endpoint_dir(bool) { return "\\\\.\\pipe"; }

std::string endpoint_path(const std::string& endpoint) {
  return endpoint_dir(false) + "\\vexlor." + file_name_for(instance_name()) + "." +
         file_name_for(endpoint);
}

bool endpoint_served(const std::string& endpoint) {
  HANDLE lock = ::OpenMutexA(SYNCHRONIZE, FALSE, liveness_name(endpoint).c_str());
  if (lock == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // another user's
  ::CloseHandle(lock);
  return true;
}

// ---- LocalStream ------------------------------------------------------------------------

LocalStream::LocalStream(intptr_t native) : native_(native) {
  wake_ = as_native(new_event());
  io_event_ = as_native(new_event());
  write_event_ = as_native(new_event());
}

LocalStream::~LocalStream() {
  close();
  close_handle(wake_);
  close_handle(io_event_);
  close_handle(write_event_);
}

LocalStream::LocalStream(LocalStream&& other) noexcept { *this = std::move(other); }

LocalStream& LocalStream::operator=(LocalStream&& other) noexcept {
  if (this != &other) {
    close();
    close_handle(wake_);
    close_handle(io_event_);
    close_handle(write_event_);
    native_ = std::exchange(other.native_, -1);
    wake_ = std::exchange(other.wake_, -1);
    io_event_ = std::exchange(other.io_event_, -1);
    write_event_ = std::exchange(other.write_event_, -1);
    timeout_ms_ = std::exchange(other.timeout_ms_, 0);
    buffer_ = std::move(other.buffer_);
    cap_ = std::exchange(other.cap_, 0);
    start_ = std::exchange(other.start_, 0);
    end_ = std::exchange(other.end_, 0);
  }
  return *this;
}

bool LocalStream::valid() const {
  return native_ != -1 && wake_ != -1 && io_event_ != -1 && write_event_ != -1;
}

bool LocalStream::peer_open() const {
  DWORD available = 0;
  return valid() && PeekNamedPipe(reinterpret_cast<HANDLE>(native_), nullptr, 0, nullptr,
                                  &available, nullptr) != FALSE;
}

// The events stay until destruction, so a shutdown() racing with close() never signals a
// recycled handle.
void LocalStream::close() {
  close_handle(native_);
  start_ = end_ = 0;
}

void LocalStream::shutdown() {
  if (wake_ != -1) ::SetEvent(as_handle(wake_));
}

bool LocalStream::connect(const std::string& endpoint, std::string* error) {
  close();
  const std::string path = endpoint_path(endpoint);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
  HANDLE h = INVALID_HANDLE_VALUE;
  while (true) {
    h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    DWORD err = ::GetLastError();
    // Busy: the listener is between two pipe instances; anything else means nobody serves.
    if (err != ERROR_PIPE_BUSY || std::chrono::steady_clock::now() > deadline) {
      if (error) *error = system_text("endpoint \"" + endpoint + "\"", err);
      return false;
    }
    ::WaitNamedPipeA(path.c_str(), 100);
  }
  *this = LocalStream(as_native(h));
  if (!valid()) {
    if (error) *error = system_text("endpoint \"" + endpoint + "\"", ::GetLastError());
    close();
    return false;
  }
  return true;
}

bool LocalStream::set_timeout_ms(int timeout_ms) {
  if (!valid()) return false;
  timeout_ms_ = timeout_ms > 0 ? timeout_ms : 0;
  return true;
}

IoResult LocalStream::write_frame(const void* payload, std::size_t size) {
  if (!valid() || size > kMaxFrameBytes) return IoResult::kError;
  std::string frame(4 + size, '\0');
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  if (size > 0) std::memcpy(&frame[4], payload, size);
  const auto start = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  while (sent < frame.size()) {
    int left_ms = 0;
    if (timeout_ms_ > 0) {
      auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
      if (spent >= timeout_ms_) return IoResult::kTimeout;
      left_ms = timeout_ms_ - static_cast<int>(spent);
    }
    DWORD n = 0;
    IoResult r = transfer(as_handle(native_), as_handle(write_event_), as_handle(wake_), true,
                          &frame[sent], static_cast<DWORD>(frame.size() - sent), left_ms, &n);
    if (r != IoResult::kOk) return r;
    sent += n;
  }
  return IoResult::kOk;
}

IoResult LocalStream::read_frame(std::string& payload) {
  if (!valid()) return IoResult::kError;
  // A frame that arrives in pieces must complete within one time bound from its first byte.
  bool started = false;
  std::chrono::steady_clock::time_point deadline{};
  while (true) {
    IoResult result;
    if (take_buffered_frame(payload, result)) return result;
    const std::size_t have = end_ - start_;
    int wait_ms = timeout_ms_;
    if (have > 0 && timeout_ms_ > 0) {
      auto now = std::chrono::steady_clock::now();
      if (!started) {
        started = true;
        deadline = now + std::chrono::milliseconds(timeout_ms_);
      }
      if (now >= deadline) return IoResult::kTimeout;
      wait_ms = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
    }
    DWORD n = 0;
    IoResult r = transfer(as_handle(native_), as_handle(io_event_), as_handle(wake_), false,
                          buffer_.get() + end_, static_cast<DWORD>(cap_ - end_), wait_ms, &n);
    if (r != IoResult::kOk) return r;
    end_ += n;
  }
}

bool local_stream_pair(LocalStream& a, LocalStream& b) {
  static std::atomic<unsigned> counter{0};
  const std::string path = "\\\\.\\pipe\\vexlor.pair." + std::to_string(::GetCurrentProcessId()) +
                           "." + std::to_string(counter.fetch_add(1));
  HANDLE server = new_pipe_instance(path);
  if (server == INVALID_HANDLE_VALUE) return false;
  HANDLE client = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (client == INVALID_HANDLE_VALUE) {
    ::CloseHandle(server);
    return false;
  }
  a = LocalStream(as_native(client));
  b = LocalStream(as_native(server));
  return a.valid() && b.valid();
}

// ---- LocalListener ----------------------------------------------------------------------

LocalListener::~LocalListener() { close(); }

bool LocalListener::open(const std::string& endpoint, std::string* error, bool* busy) {
  if (busy) *busy = false;
  close();
  const std::string lock_name = liveness_name(endpoint);
  HANDLE lock = ::CreateMutexA(nullptr, FALSE, lock_name.c_str());
  DWORD err = ::GetLastError();
  if (lock == nullptr || err == ERROR_ALREADY_EXISTS) {
    if (lock != nullptr) ::CloseHandle(lock);
    if (lock != nullptr && busy) *busy = true;
    if (error) {
      *error = lock != nullptr ? "endpoint \"" + endpoint + "\" is already served by a live process"
                               : system_text(lock_name, err);
    }
    return false;
  }
  const std::string path = endpoint_path(endpoint);
  HANDLE pipe = new_pipe_instance(path);
  HANDLE wake = new_event();
  HANDLE connected = new_event();
  if (pipe == INVALID_HANDLE_VALUE || wake == nullptr || connected == nullptr) {
    if (error) *error = system_text(path, ::GetLastError());
    if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
    if (wake != nullptr) ::CloseHandle(wake);
    if (connected != nullptr) ::CloseHandle(connected);
    ::CloseHandle(lock);
    return false;
  }
  native_ = as_native(pipe);
  lock_ = as_native(lock);
  wake_[0] = as_native(wake);
  wake_[1] = as_native(connected);
  owner_ = static_cast<intptr_t>(::GetCurrentProcessId());
  pending_ = new PendingConnect();
  endpoint_ = endpoint;
  path_ = path;
  return true;
}

LocalStream LocalListener::accept(int timeout_ms) {
  if (native_ == -1) return LocalStream();
  auto* state = static_cast<PendingConnect*>(pending_);
  const HANDLE connected_event = as_handle(wake_[1]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    if (::WaitForSingleObject(as_handle(wake_[0]), 0) == WAIT_OBJECT_0) return LocalStream();
    HANDLE pipe = as_handle(native_);
    bool connected = false;
    if (!state->pending) {
      state->ov = OVERLAPPED{};
      state->ov.hEvent = connected_event;
      if (::ConnectNamedPipe(pipe, &state->ov)) {
        connected = true;
      } else {
        DWORD err = ::GetLastError();
        if (err == ERROR_PIPE_CONNECTED) {
          connected = true;
        } else if (err == ERROR_IO_PENDING) {
          state->pending = true;
        } else if (err == ERROR_NO_DATA) {
          ::DisconnectNamedPipe(pipe);  // a client that came and went; serve the next one
          continue;
        } else {
          return LocalStream();
        }
      }
    }
    if (!connected) {
      DWORD wait = INFINITE;
      if (timeout_ms >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        wait = left > 0 ? static_cast<DWORD>(left) : 0;
      }
      HANDLE both[2] = {connected_event, as_handle(wake_[0])};
      DWORD r = ::WaitForMultipleObjects(2, both, FALSE, wait);
      if (r != WAIT_OBJECT_0) return LocalStream();  // the connect stays pending
      DWORD ignored = 0;
      state->pending = false;
      if (!::GetOverlappedResult(pipe, &state->ov, &ignored, FALSE)) {
        ::DisconnectNamedPipe(pipe);
        continue;
      }
    }
    // Hand the connected instance over and open the next one for the next client.
    HANDLE next = new_pipe_instance(path_);
    native_ = next == INVALID_HANDLE_VALUE ? -1 : as_native(next);
    return LocalStream(as_native(pipe));
  }
}

void LocalListener::interrupt() {
  if (wake_[0] != -1) ::SetEvent(as_handle(wake_[0]));
}

void LocalListener::close() {
  auto* state = static_cast<PendingConnect*>(pending_);
  if (state != nullptr && state->pending && native_ != -1) {
    DWORD ignored = 0;
    ::CancelIoEx(as_handle(native_), &state->ov);
    ::GetOverlappedResult(as_handle(native_), &state->ov, &ignored, TRUE);
  }
  delete state;
  pending_ = nullptr;
  close_handle(native_);
  close_handle(lock_);
  close_handle(wake_[0]);
  close_handle(wake_[1]);
}

}  // namespace vexlor::os
