// The few TCP calls an HSMS session needs, with a POSIX side (tcp_posix.cpp) and a Winsock side
// (tcp_win32.cpp). Sockets are plain handles; every call reports failure instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexlor::secs::tcp {

using Socket = intptr_t;
constexpr Socket kInvalid = -1;

// Listens on ip:port (port 0: a free port); *bound_port gets the port actually used.
Socket listen_on(const std::string& ip, int port, int* bound_port, std::string* error);
// Accepts a waiting connection; *peer gets "ip:port".
Socket accept_from(Socket listener, std::string* peer);
// Connects within timeout_ms; *peer gets "ip:port".
Socket connect_to(const std::string& ip, int port, int timeout_ms, std::string* peer,
                  std::string* error);

// Waits until a or b (either may be kInvalid) is readable or timeout_ms passes. Returns false on
// an error of the wait itself.
bool wait_readable(Socket a, Socket b, int timeout_ms, bool* a_ready, bool* b_ready);
// Bytes read (> 0), 0 when the peer closed, -1 on an error.
long receive(Socket s, char* buffer, std::size_t size);
// Writes everything; false on an error or when the peer takes nothing for timeout_ms.
bool send_all(Socket s, const char* data, std::size_t size, int timeout_ms);
// Ends both directions (a reader blocked on the socket wakes up); the handle stays valid.
void shutdown_both(Socket s);
void close_socket(Socket s);

}  // namespace vexlor::secs::tcp
