// The machine's own IPv4 address, as the host link reports it.
#pragma once

#include <cstddef>

namespace vexlor::os {

// The first IPv4 address the machine's host name resolves to, in dotted form, into out[size]
// (cut to fit). False, out untouched, when the sockets layer, the host name or its resolution
// fails.
bool local_ipv4_address(char* out, std::size_t size);

}  // namespace vexlor::os
