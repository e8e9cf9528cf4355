// Local endpoints on POSIX: Unix domain stream sockets in instance_dir()/endpoint, each with
// an flock'ed "<socket>.lock" that proves its listener alive.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "os/instance.h"
#include "os/live_file.h"
#include "os/local_endpoint.h"

namespace vexlor::os {
namespace {

std::string errno_text(const char* what, int err) {
  return std::string(what) + ": " + std::strerror(err);
}

// Fills `addr` for `path`. Paths longer than sun_path go through /proc/self/fd of their
// folder (opened into *dir_fd, which the caller closes after connect/bind).
bool make_address(const std::string& path, sockaddr_un& addr, socklen_t& len, int* dir_fd) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string use = path;
  *dir_fd = -1;
  if (path.size() >= sizeof addr.sun_path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    *dir_fd = ::open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (*dir_fd < 0) return false;
    use = "/proc/self/fd/" + std::to_string(*dir_fd) + path.substr(slash);
    if (use.size() >= sizeof addr.sun_path) {
      ::close(*dir_fd);
      *dir_fd = -1;
      errno = ENAMETOOLONG;
      return false;
    }
  }
  std::memcpy(addr.sun_path, use.data(), use.size());
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + use.size() + 1);
  return true;
}

void close_fd(intptr_t& fd) {
  if (fd >= 0) ::close(static_cast<int>(fd));
  fd = -1;
}

}  // namespace

std::string endpoint_dir(bool create) {
  std::string dir = instance_dir({}, create);
  if (dir.empty()) return {};
  dir += "/endpoint";
  if (create && !make_dirs(dir)) return {};
  return dir;
}

std::string endpoint_path(const std::string& endpoint) {
  return endpoint_dir(false) + "/" + file_name_for(endpoint) + ".sock";
}

bool endpoint_served(const std::string& endpoint) {
  return probe_live_file(endpoint_path(endpoint) + ".lock", nullptr, false) == Liveness::kAlive;
}

// ---- LocalStream ------------------------------------------------------------------------

LocalStream::LocalStream(intptr_t native) : native_(native) {}

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

bool LocalStream::valid() const { return native_ >= 0; }

bool LocalStream::peer_open() const {
  if (native_ < 0) return false;
  pollfd p{static_cast<int>(native_), POLLIN | POLLRDHUP, 0};
  const int n = ::poll(&p, 1, 0);
  return n == 0 || (n == 1 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) == 0);
}

void LocalStream::close() {
  close_fd(native_);
  start_ = end_ = 0;
}

void LocalStream::shutdown() {
  if (native_ >= 0) ::shutdown(static_cast<int>(native_), SHUT_RDWR);
}

bool LocalStream::connect(const std::string& endpoint, std::string* error) {
  close();
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = errno_text("socket", errno);
    return false;
  }
  sockaddr_un addr;
  socklen_t len = 0;
  int dir_fd = -1;
  std::string path = endpoint_path(endpoint);
  if (!make_address(path, addr, len, &dir_fd)) {
    if (error) *error = errno_text(path.c_str(), errno);
    ::close(fd);
    return false;
  }
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len);
  } while (rc != 0 && errno == EINTR);
  int err = errno;
  if (dir_fd >= 0) ::close(dir_fd);
  if (rc != 0) {
    if (error) *error = errno_text(("endpoint \"" + endpoint + "\"").c_str(), err);
    ::close(fd);
    return false;
  }
  native_ = fd;
  return true;
}

bool LocalStream::set_timeout_ms(int timeout_ms) {
  if (native_ < 0) return false;
  timeval tv{};
  if (timeout_ms > 0) {
    tv.tv_sec = timeout_ms / 1000;
    tv.tv_usec = (timeout_ms % 1000) * 1000;
  }
  int fd = static_cast<int>(native_);
  return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
         ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

IoResult LocalStream::write_frame(const void* payload, std::size_t size) {
  if (native_ < 0) return IoResult::kError;
  if (size > kMaxFrameBytes) return IoResult::kError;
  unsigned char header[4] = {
      static_cast<unsigned char>(size), static_cast<unsigned char>(size >> 8),
      static_cast<unsigned char>(size >> 16), static_cast<unsigned char>(size >> 24)};
  iovec iov[2] = {{header, sizeof header}, {const_cast<void*>(payload), size}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = size ? 2 : 1;
  std::size_t left = sizeof header + size;
  while (left > 0) {
    ssize_t n = ::sendmsg(static_cast<int>(native_), &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::kTimeout;
      if (errno == EPIPE || errno == ECONNRESET) return IoResult::kClosed;
      return IoResult::kError;
    }
    left -= static_cast<std::size_t>(n);
    // Advance the vector past what went out.
    std::size_t done = static_cast<std::size_t>(n);
    while (done > 0 && msg.msg_iovlen > 0) {
      if (done >= msg.msg_iov[0].iov_len) {
        done -= msg.msg_iov[0].iov_len;
        ++msg.msg_iov;
        --msg.msg_iovlen;
      } else {
        msg.msg_iov[0].iov_base = static_cast<char*>(msg.msg_iov[0].iov_base) + done;
        msg.msg_iov[0].iov_len -= done;
        done = 0;
      }
    }
  }
  return IoResult::kOk;
}

IoResult LocalStream::read_frame(std::string& payload) {
  if (native_ < 0) return IoResult::kError;
  bool waited = false;
  std::chrono::steady_clock::time_point deadline{};
  timeval tv{};
  socklen_t tv_len = sizeof tv;
  while (true) {
    IoResult result;
    if (take_buffered_frame(payload, result)) return result;
    const std::size_t have = end_ - start_;
    // A frame that arrives in pieces must still complete within the stream's time bound.
    if (have > 0 && !waited) {
      waited = true;
      ::getsockopt(static_cast<int>(native_), SOL_SOCKET, SO_RCVTIMEO, &tv, &tv_len);
      deadline = std::chrono::steady_clock::now() + std::chrono::seconds(tv.tv_sec) +
                 std::chrono::microseconds(tv.tv_usec);
    } else if (waited && (tv.tv_sec || tv.tv_usec) && std::chrono::steady_clock::now() > deadline) {
      return IoResult::kTimeout;
    }
    ssize_t n = ::recv(static_cast<int>(native_), buffer_.get() + end_, cap_ - end_, 0);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return IoResult::kClosed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return IoResult::kTimeout;
    if (errno == ECONNRESET || errno == EPIPE) return IoResult::kClosed;
    return IoResult::kError;
  }
}

bool local_stream_pair(LocalStream& a, LocalStream& b) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return false;
  a = LocalStream(fds[0]);
  b = LocalStream(fds[1]);
  return true;
}

// ---- LocalListener ----------------------------------------------------------------------

LocalListener::~LocalListener() { close(); }

bool LocalListener::open(const std::string& endpoint, std::string* error, bool* busy) {
  if (busy) *busy = false;
  close();
  std::string dir = endpoint_dir(true);
  if (dir.empty()) {
    if (error) *error = "cannot create the endpoint folder of instance \"" + instance_name() + "\"";
    return false;
  }
  std::string path = endpoint_path(endpoint);
  std::string lock_path = path + ".lock";
  // Take the liveness lock. The file may be removed by a listener closing at this moment;
  // retry until the locked file is the one at the path.
  int lock_fd = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    if (lock_fd < 0) {
      if (error) *error = errno_text(lock_path.c_str(), errno);
      return false;
    }
    if (::flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
      int err = errno;
      ::close(lock_fd);
      if (err == EWOULDBLOCK) {
        if (busy) *busy = true;
        if (error) *error = "endpoint \"" + endpoint + "\" is already served by a live process";
      } else if (error) {
        *error = errno_text(lock_path.c_str(), err);
      }
      return false;
    }
    struct stat held, named;
    if (::fstat(lock_fd, &held) == 0 && ::stat(lock_path.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      break;
    }
    ::close(lock_fd);
    lock_fd = -1;
  }
  if (lock_fd < 0) {
    if (error) *error = "endpoint \"" + endpoint + "\": lock file keeps changing";
    return false;
  }
  ::fchmod(lock_fd, 0660);
  // We own the endpoint: whatever socket file is there was left by a dead listener.
  ::unlink(path.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr;
  socklen_t len = 0;
  int dir_fd = -1;
  if (fd < 0 || !make_address(path, addr, len, &dir_fd)) {
    if (error) *error = errno_text(path.c_str(), errno);
    if (fd >= 0) ::close(fd);
    ::unlink(lock_path.c_str());
    ::close(lock_fd);
    return false;
  }
  int rc = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len);
  int err = errno;
  if (dir_fd >= 0) ::close(dir_fd);
  if (rc != 0 || ::chmod(path.c_str(), 0660) != 0 || ::listen(fd, 128) != 0) {
    if (rc == 0) err = errno;
    if (error) *error = errno_text(path.c_str(), err);
    ::close(fd);
    ::unlink(path.c_str());
    ::unlink(lock_path.c_str());
    ::close(lock_fd);
    return false;
  }
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = errno_text("pipe", errno);
    ::close(fd);
    ::unlink(path.c_str());
    ::unlink(lock_path.c_str());
    ::close(lock_fd);
    return false;
  }
  native_ = fd;
  lock_ = lock_fd;
  owner_ = static_cast<intptr_t>(::getpid());
  wake_[0] = wake[0];
  wake_[1] = wake[1];
  endpoint_ = endpoint;
  path_ = path;
  return true;
}

LocalStream LocalListener::accept(int timeout_ms) {
  if (native_ < 0) return LocalStream();
  pollfd fds[2] = {{static_cast<int>(native_), POLLIN, 0}, {static_cast<int>(wake_[0]), POLLIN, 0}};
  while (true) {
    int rc = ::poll(fds, 2, timeout_ms < 0 ? -1 : timeout_ms);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0 || (fds[1].revents & POLLIN)) return LocalStream();
    break;
  }
  int fd = ::accept4(static_cast<int>(native_), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return LocalStream();
  return LocalStream(fd);
}

void LocalListener::interrupt() {
  if (wake_[1] >= 0) {
    char byte = 1;
    ssize_t n = ::write(static_cast<int>(wake_[1]), &byte, 1);
    (void)n;
  }
}

void LocalListener::close() {
  if (native_ >= 0) {
    close_fd(native_);
    // Remove the files while the lock is still held, so no successor's files are touched.
    if (owner_ == static_cast<intptr_t>(::getpid())) {
      ::unlink(path_.c_str());
      ::unlink((path_ + ".lock").c_str());
      // Unlocked, not only closed: a child forked from this process without exec shares the
      // descriptor and would keep the name taken for as long as it lives.
      if (lock_ >= 0) ::flock(static_cast<int>(lock_), LOCK_UN);
    }
  }
  close_fd(lock_);
  close_fd(wake_[0]);
  close_fd(wake_[1]);
}

}  // namespace vexlor::os
