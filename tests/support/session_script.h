// Running the equipment session script (scripts/run_equipment.sh) from a test: its output and
// exit status, and a loopback port for its host link, so sessions can run side by side.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace vexlor::test {

// The command's standard output (as the shell runs it) and its wait status.
inline std::string run_command(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

// A port of 127.0.0.1 nobody listens on now.
inline std::string free_loopback_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::string port = "5000";
  if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = std::to_string(ntohs(address.sin_port));
  }
  if (s >= 0) ::close(s);
  return port;
}

}  // namespace vexlor::test
