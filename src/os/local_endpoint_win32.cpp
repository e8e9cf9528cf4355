// Local endpoints on Windows: named pipes "\\.\pipe\vexlor.<instance>.<endpoint>".
//
// Not complete yet: the pipe names are fixed here, but connecting, listening and frame
// transfer report failure (no request is delivered on this platform) until the overlapped
// named-pipe transport with per-request time-outs is written. Every operation fails
// cleanly; none blocks.
#include <windows.h>

#include <utility>

#include "os/instance.h"
#include "os/local_endpoint.h"

namespace vexlor::os {
namespace {

const char kNotYet[] = "local endpoints are not available on Windows yet";

void close_handle(intptr_t& native) {
  if (native != -1) ::CloseHandle(reinterpret_cast<HANDLE>(native));
  native = -1;
}

}  // namespace

std::string endpoint_dir(bool) { return "\\\\.\\pipe"; }

std::string endpoint_path(const std::string& endpoint) {
  return endpoint_dir(false) + "\\vexlor." + file_name_for(instance_name()) + "." +
         file_name_for(endpoint);
}

LocalStream::~LocalStream() { close(); }

LocalStream::LocalStream(LocalStream&& other) noexcept { *this = std::move(other); }

LocalStream& LocalStream::operator=(LocalStream&& other) noexcept {
  if (this != &other) {
    close();
    native_ = std::exchange(other.native_, -1);
    buffer_ = std::move(other.buffer_);
    cap_ = std::exchange(other.cap_, 0);
    start_ = std::exchange(other.start_, 0);
    end_ = std::exchange(other.end_, 0);
  }
  return *this;
}

bool LocalStream::valid() const { return native_ != -1; }

void LocalStream::close() {
  close_handle(native_);
  start_ = end_ = 0;
}

void LocalStream::shutdown() {}

bool LocalStream::connect(const std::string&, std::string* error) {
  close();
  if (error) *error = kNotYet;
  return false;
}

bool LocalStream::set_timeout_ms(int) { return false; }

IoResult LocalStream::write_frame(const void*, std::size_t) { return IoResult::kError; }

IoResult LocalStream::read_frame(std::string&) { return IoResult::kError; }

bool local_stream_pair(LocalStream&, LocalStream&) { return false; }

LocalListener::~LocalListener() { close(); }

bool LocalListener::open(const std::string&, std::string* error, bool* busy) {
  if (busy) *busy = false;
  if (error) *error = kNotYet;
  return false;
}

LocalStream LocalListener::accept(int) { return LocalStream(); }

void LocalListener::interrupt() {}

void LocalListener::close() {
  close_handle(native_);
  close_handle(lock_);
  close_handle(wake_[0]);
  close_handle(wake_[1]);
}

}  // namespace vexlor::os
