// The machine's own IPv4 address on Windows: Windows Sockets 2.2, the host name and the first
// address of its host entry.
#include "os/windows_api.h"

#include <cstdio>

#include "os/local_address.h"

namespace vexlor::os {

bool local_ipv4_address(char* out, std::size_t size) {
  if (out == nullptr || size == 0) return false;
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  char host[256] = {};
  if (::gethostname(host, sizeof host) != 0) return false;
  const hostent* entry = ::gethostbyname(host);
  if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    return false;
  }
  in_addr address;
  address.s_addr = *reinterpret_cast<const u_long*>(entry->h_addr_list[0]);
  std::snprintf(out, size, "%s", ::inet_ntoa(address));
  return true;
}

}  // namespace vexlor::os
