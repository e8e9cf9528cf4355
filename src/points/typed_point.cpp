// Name resolution shared by the point families: the process's name cache for access by name,
// and name caching through a caller's int.
#include "points/typed_point.h"

#include <cstdio>

namespace vexlor::detail {

bool resolve_point(Vexlor::IO_TYPE type, const char* name, bool silent, int32_t* index) {
  HUB_CONTEXT* ctx = context();
  if (ctx == nullptr || ctx->db == nullptr || name == nullptr) return false;
  {
    MapLock lock(map_mutex());
    auto it = ctx->io_map_cache.find(std::string_view(name));
    if (it != ctx->io_map_cache.end() && it->second.type == type) {
      *index = it->second.point;
      return true;
    }
  }
  int point = Vexlor::VEXLOR_ERROR_POINT;
  if (!Vexlor::VIO_Find_Point(&point, type, silent, name)) return false;
  {
    MapLock lock(map_mutex());
    ctx->io_map_cache.insert_or_assign(name, Vexlor::IO_MAP{point, type});
  }
  *index = point;
  return true;
}

bool resolve_cached(Vexlor::IO_TYPE type, int* index, const char* format, va_list args) {
  if (index == nullptr || *index == Vexlor::VEXLOR_ERROR_POINT) return false;
  if (*index != Vexlor::VEXLOR_UNUSED_POINT) return true;
  char name[kNameSize];
  format_text(name, sizeof name, format, args);
  return Vexlor::VIO_Find_Point(index, type, name);
}

void format_text(char* out, std::size_t size, const char* format, va_list args) {
  if (out == nullptr || size == 0) return;
  out[0] = '\0';
  if (format != nullptr) std::vsnprintf(out, size, format, args);
}

}  // namespace vexlor::detail
