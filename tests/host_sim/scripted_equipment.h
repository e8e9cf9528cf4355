// Test support: the equipment end of one HSMS connection, scripted by a test. It listens on an
// ephemeral port of 127.0.0.1, accepts one connection, reads the exact bytes the host sent and
// writes hand-made frames back.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "host_sim/sim_hsms.h"

namespace vexlor::test {

using vexlor::hostsim::decode_frame;
using vexlor::hostsim::kMaxMessageLength;
using vexlor::hostsim::Message;

inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// The equipment side of one connection, driven by the test.
class ScriptedEquipment {
 public:
  ScriptedEquipment() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~ScriptedEquipment() {
    if (fd_ >= 0) ::close(fd_);
    ::close(listener_);
  }
  std::uint16_t port() const { return port_; }

  bool accept() {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return false;
    fd_ = ::accept(listener_, nullptr, nullptr);
    return fd_ >= 0;
  }
  // Exactly n bytes, or fewer when the host closed or nothing came within five seconds.
  std::string read(std::size_t n, int timeout_ms = 5000) {
    std::string out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeout_ms) != 1) break;
      char buffer[4096];
      const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buffer, static_cast<std::size_t>(got));
    }
    return out;
  }
  // What one recv() gives after the host closed: 0 for a FIN, -1 with ECONNRESET for an RST.
  ssize_t read_end(int* error) {
    pollfd p{fd_, POLLIN, 0};
    ::poll(&p, 1, 5000);
    char c;
    const ssize_t got = ::recv(fd_, &c, 1, 0);
    *error = got < 0 ? errno : 0;
    return got;
  }
  void write(const std::string& data) {
    ASSERT_EQ(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(data.size()));
  }
  // One whole frame (empty message on a timeout or a close).
  std::optional<Message> read_message(int timeout_ms = 5000) {
    const std::string length = read(4, timeout_ms);
    if (length.size() != 4) return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(length.data());
    const std::size_t size = (std::size_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    if (size < 10 || size > kMaxMessageLength) return std::nullopt;
    const std::string rest = read(size, timeout_ms);
    if (rest.size() != size) return std::nullopt;
    Message message;
    std::string error;
    if (decode_frame(length + rest, &message, &error) != 4 + size) return std::nullopt;
    return message;
  }
  void close() {
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int listener_ = -1;
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace vexlor::test
