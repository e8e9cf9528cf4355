// Page prefetch on Windows: one read per page brings the range in ahead of use.
#include "os/windows_api.h"

#include "os/prefetch.h"

namespace vexlor::os {

void prefetch_pages(const void* address, std::size_t size) {
  if (address == nullptr || size == 0) return;
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  const volatile char* bytes = static_cast<const volatile char*>(address);
  for (std::size_t offset = 0; offset < size; offset += page) (void)bytes[offset];
  (void)bytes[size - 1];
}

}  // namespace vexlor::os
