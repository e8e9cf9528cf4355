#include "secs/raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace vexlor::test {

std::string hex(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::string raw_frame(uint16_t session, uint8_t byte2, uint8_t byte3, uint8_t ptype, uint8_t stype,
                      uint32_t system, const std::string& body) {
  const uint32_t length = static_cast<uint32_t>(10 + body.size());
  std::string out;
  for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<char>(length >> shift));
  out.push_back(static_cast<char>(session >> 8));
  out.push_back(static_cast<char>(session));
  out.push_back(static_cast<char>(byte2));
  out.push_back(static_cast<char>(byte3));
  out.push_back(static_cast<char>(ptype));
  out.push_back(static_cast<char>(stype));
  for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<char>(system >> shift));
  return out + body;
}

RawPeer::~RawPeer() {
  close();
  if (listener_ >= 0) ::close(listener_);
}

bool RawPeer::connect(int port) {
  close();
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

int RawPeer::listen(int port) {
  listener_ = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener_, 4) != 0) {
    return -1;
  }
  socklen_t len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

bool RawPeer::accept(int timeout_ms) {
  pollfd p{listener_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) != 1) return false;
  close();
  fd_ = ::accept(listener_, nullptr, nullptr);
  return fd_ >= 0;
}

bool RawPeer::send(const std::string& bytes) {
  return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(bytes.size());
}

namespace {

// Reads exactly n bytes before the deadline.
bool read_exact(int fd, char* out, std::size_t n, std::chrono::steady_clock::time_point deadline) {
  while (n > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) return false;
    const ssize_t got = recv(fd, out, n, 0);
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

bool RawPeer::read(RawFrame* frame, int timeout_ms) {
  if (fd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  unsigned char len[4];
  if (!read_exact(fd_, reinterpret_cast<char*>(len), 4, deadline)) return false;
  const uint32_t length = (uint32_t{len[0]} << 24) | (len[1] << 16) | (len[2] << 8) | len[3];
  if (length < 10 || length > (64u << 20)) return false;
  std::string all(length, '\0');
  if (!read_exact(fd_, &all[0], length, deadline)) return false;
  const auto* h = reinterpret_cast<const unsigned char*>(all.data());
  frame->session = static_cast<uint16_t>((h[0] << 8) | h[1]);
  frame->byte2 = h[2];
  frame->byte3 = h[3];
  frame->ptype = h[4];
  frame->stype = h[5];
  frame->system = (uint32_t{h[6]} << 24) | (uint32_t{h[7]} << 16) | (uint32_t{h[8]} << 8) | h[9];
  frame->header = all.substr(0, 10);
  frame->body = all.substr(10);
  return true;
}

bool RawPeer::closed_by_session(int timeout_ms) {
  if (fd_ < 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  char buf[4096];
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1) return false;
    const ssize_t got = recv(fd_, buf, sizeof buf, 0);
    if (got <= 0) return true;
  }
}

bool RawPeer::select(uint32_t system) {
  if (!send(raw_frame(0xFFFF, 0, 0, 0, 1, system))) return false;
  RawFrame f;
  return read(&f) && f.stype == 2 && f.byte3 == 0 && f.system == system;
}

void RawPeer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool eventually(const std::function<bool()>& done, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace vexlor::test
