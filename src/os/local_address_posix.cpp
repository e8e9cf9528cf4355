// The machine's own IPv4 address on POSIX: gethostname, then getaddrinfo for IPv4.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "os/local_address.h"

namespace vexlor::os {

bool local_ipv4_address(char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  char text[INET_ADDRSTRLEN] = {};
  const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(found);
  if (ok) std::snprintf(out, size, "%s", text);
  return ok;
}

}  // namespace vexlor::os
