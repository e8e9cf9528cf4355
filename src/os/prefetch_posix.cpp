// Page prefetch on POSIX: MADV_POPULATE_READ maps the whole range in one call (Linux 5.14 on);
// elsewhere nothing is done and first accesses fault as usual.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "os/prefetch.h"

namespace vexlor::os {

void prefetch_pages(const void* address, std::size_t size) {
#ifdef MADV_POPULATE_READ
  if (address == nullptr || size == 0) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t begin = reinterpret_cast<uintptr_t>(address) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(address) + size;
  ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_READ);
#else
  (void)address;
  (void)size;
#endif
}

}  // namespace vexlor::os
