// TCP on Winsock. Winsock is started once, the first time a socket is made.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "tcp.h"

namespace vexlor::secs::tcp {

namespace {

bool started() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ok;
}

bool make_address(const std::string& ip, int port, sockaddr_in* addr) {
  ZeroMemory(addr, sizeof *addr);
  addr->sin_family = AF_INET;
  addr->sin_port = htons(static_cast<u_short>(port));
  return port >= 0 && port <= 65535 && inet_pton(AF_INET, ip.c_str(), &addr->sin_addr) == 1;
}

std::string address_text(const sockaddr_in& addr) {
  char ip[INET_ADDRSTRLEN] = "";
  inet_ntop(AF_INET, const_cast<in_addr*>(&addr.sin_addr), ip, sizeof ip);
  return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

std::string last_error() { return "error " + std::to_string(WSAGetLastError()); }

SOCKET native(Socket s) { return static_cast<SOCKET>(s); }

void tune(SOCKET s) {
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

}  // namespace

Socket listen_on(const std::string& ip, int port, int* bound_port, std::string* error) {
  sockaddr_in addr;
  if (!started()) {
    *error = "Winsock cannot start";
    return kInvalid;
  }
  if (!make_address(ip, port, &addr)) {
    *error = "invalid local address " + ip + ":" + std::to_string(port);
    return kInvalid;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = "socket: " + last_error();
    return kInvalid;
  }
  // One listener per port, as on POSIX with SO_REUSEADDR's semantics.
  const BOOL one = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
  if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0) {
    *error = "cannot listen on " + ip + ":" + std::to_string(port) + ": " + last_error();
    closesocket(s);
    return kInvalid;
  }
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  *bound_port = ntohs(addr.sin_port);
  return static_cast<Socket>(s);
}

Socket accept_from(Socket listener, std::string* peer) {
  sockaddr_in addr;
  int len = sizeof addr;
  const SOCKET s = accept(native(listener), reinterpret_cast<sockaddr*>(&addr), &len);
  if (s == INVALID_SOCKET) return kInvalid;
  tune(s);
  *peer = address_text(addr);
  return static_cast<Socket>(s);
}

Socket connect_to(const std::string& ip, int port, int timeout_ms, std::string* peer,
                  std::string* error) {
  sockaddr_in addr;
  if (!started()) {
    *error = "Winsock cannot start";
    return kInvalid;
  }
  if (!make_address(ip, port, &addr)) {
    *error = "invalid remote address " + ip + ":" + std::to_string(port);
    return kInvalid;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = "socket: " + last_error();
    return kInvalid;
  }
  u_long nonblocking = 1;
  ioctlsocket(s, FIONBIO, &nonblocking);
  bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (!ok && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ok = select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable);
  }
  if (!ok) {
    *error = "cannot connect to " + ip + ":" + std::to_string(port) + ": " + last_error();
    closesocket(s);
    return kInvalid;
  }
  nonblocking = 0;
  ioctlsocket(s, FIONBIO, &nonblocking);
  tune(s);
  *peer = address_text(addr);
  return static_cast<Socket>(s);
}

bool wait_readable(Socket a, Socket b, int timeout_ms, bool* a_ready, bool* b_ready) {
  *a_ready = *b_ready = false;
  fd_set readable;
  FD_ZERO(&readable);
  if (a != kInvalid) FD_SET(native(a), &readable);
  if (b != kInvalid) FD_SET(native(b), &readable);
  if (a == kInvalid && b == kInvalid) {
    Sleep(static_cast<DWORD>(timeout_ms));
    return true;
  }
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int rc = select(0, &readable, nullptr, nullptr, &tv);
  if (rc < 0) return false;
  if (a != kInvalid) *a_ready = FD_ISSET(native(a), &readable) != 0;
  if (b != kInvalid) *b_ready = FD_ISSET(native(b), &readable) != 0;
  return true;
}

long receive(Socket s, char* buffer, std::size_t size) {
  const int n = recv(native(s), buffer, static_cast<int>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

bool send_all(Socket s, const char* data, std::size_t size, int timeout_ms) {
  const DWORD timeout = static_cast<DWORD>(timeout_ms);
  setsockopt(native(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  while (size > 0) {
    const int chunk = static_cast<int>(size > 0x10000000 ? 0x10000000 : size);
    const int n = send(native(s), data, chunk, 0);
    if (n == SOCKET_ERROR || n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void shutdown_both(Socket s) {
  if (s != kInvalid) shutdown(native(s), SD_BOTH);
}

void close_socket(Socket s) {
  if (s != kInvalid) closesocket(native(s));
}

}  // namespace vexlor::secs::tcp
