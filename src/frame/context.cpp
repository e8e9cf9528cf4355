// The global context pointer and the lock of the context's maps.
#include "frame/context.h"

#include <cstring>

namespace vexlor::detail {

std::atomic<HUB_CONTEXT*> g_context{nullptr};

std::mutex& map_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::string_view buffer_text(const char* buffer) {
  if (buffer == nullptr) return {};
  return std::string_view(buffer, strnlen(buffer, kNameSize - 1));
}

}  // namespace vexlor::detail
