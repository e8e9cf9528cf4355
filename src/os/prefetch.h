// Mapping the pages of a range of a shared section into the process ahead of use, so that the
// first access to them does not pay a page fault each.
#pragma once

#include <cstddef>

namespace vexlor::os {

// Maps the pages of [address, address + size) for reading, in one call where the system can;
// a hint that never fails the caller.
void prefetch_pages(const void* address, std::size_t size);

}  // namespace vexlor::os
