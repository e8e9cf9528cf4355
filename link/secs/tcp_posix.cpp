// TCP on POSIX sockets.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "tcp.h"

namespace vexlor::secs::tcp {

namespace {

bool make_address(const std::string& ip, int port, sockaddr_in* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(static_cast<uint16_t>(port));
  return port >= 0 && port <= 65535 && inet_pton(AF_INET, ip.c_str(), &addr->sin_addr) == 1;
}

std::string address_text(const sockaddr_in& addr) {
  char ip[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

void tune(int fd) {
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#ifdef SO_NOSIGPIPE
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
}

}  // namespace

Socket listen_on(const std::string& ip, int port, int* bound_port, std::string* error) {
  sockaddr_in addr;
  if (!make_address(ip, port, &addr)) {
    *error = "invalid local address " + ip + ":" + std::to_string(port);
    return kInvalid;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return kInvalid;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
    *error = "cannot listen on " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return kInvalid;
  }
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *bound_port = ntohs(addr.sin_port);
  return fd;
}

Socket accept_from(Socket listener, std::string* peer) {
  sockaddr_in addr;
  socklen_t len = sizeof addr;
  const int fd =
      accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC);
  if (fd < 0) return kInvalid;
  tune(fd);
  *peer = address_text(addr);
  return fd;
}

Socket connect_to(const std::string& ip, int port, int timeout_ms, std::string* peer,
                  std::string* error) {
  sockaddr_in addr;
  if (!make_address(ip, port, &addr)) {
    *error = "invalid remote address " + ip + ":" + std::to_string(port);
    return kInvalid;
  }
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return kInvalid;
  }
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    rc = poll(&p, 1, timeout_ms);
    if (rc == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      errno = err;
      rc = err == 0 ? 0 : -1;
    } else {
      if (rc == 0) errno = ETIMEDOUT;
      rc = -1;
    }
  }
  if (rc != 0) {
    *error = "cannot connect to " + ip + ":" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return kInvalid;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  tune(fd);
  *peer = address_text(addr);
  return fd;
}

bool wait_readable(Socket a, Socket b, int timeout_ms, bool* a_ready, bool* b_ready) {
  pollfd fds[2];
  nfds_t n = 0;
  int ia = -1, ib = -1;
  if (a != kInvalid) {
    ia = static_cast<int>(n);
    fds[n++] = pollfd{static_cast<int>(a), POLLIN, 0};
  }
  if (b != kInvalid) {
    ib = static_cast<int>(n);
    fds[n++] = pollfd{static_cast<int>(b), POLLIN, 0};
  }
  *a_ready = *b_ready = false;
  const int rc = poll(fds, n, timeout_ms);
  if (rc < 0) return errno == EINTR;
  // An error or hang-up counts as readable: the read then reports it.
  if (ia >= 0) *a_ready = fds[ia].revents != 0;
  if (ib >= 0) *b_ready = fds[ib].revents != 0;
  return true;
}

long receive(Socket s, char* buffer, std::size_t size) {
  while (true) {
    const ssize_t n = recv(static_cast<int>(s), buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool send_all(Socket s, const char* data, std::size_t size, int timeout_ms) {
  const int fd = static_cast<int>(s);
  while (size > 0) {
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, timeout_ms) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void shutdown_both(Socket s) {
  if (s != kInvalid) shutdown(static_cast<int>(s), SHUT_RDWR);
}

void close_socket(Socket s) {
  if (s != kInvalid) ::close(static_cast<int>(s));
}

}  // namespace vexlor::secs::tcp
