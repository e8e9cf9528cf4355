// The global context pointer and the lock of the context's maps.
#include "frame/context.h"

#include <cstring>

#include "frame/index_check.h"

namespace vexlor::detail {

std::atomic<HUB_CONTEXT*> g_context{nullptr};

std::mutex& map_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Hot: on the path of a lookup, gathered with it on a few code pages (points/lookup.cpp).
[[gnu::hot]] std::string_view buffer_text(const char* buffer) {
  if (buffer == nullptr) return {};
  return std::string_view(buffer, strnlen(buffer, kNameSize - 1));
}

bool own_exit_flag() {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr) return false;
  const int32_t own = ctx->own_index;
  if (own < 0 || own >= table_size(*ctx->db, IndexKind::kFunction)) return false;
  return ctx->db->function_rt[own].exit_flag != 0;
}

}  // namespace vexlor::detail
